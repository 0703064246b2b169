#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "platform/drivepath.h"
#include "platform/errors.h"
#ifndef _WIN32
#include "platform/linux/scanrecords.h"
#endif
#include "platform/sim/sim_platform.h"

namespace platform::sim {

namespace {

// Numbers outside "wmi" maps are read as integers, and a real out of an integer's
// range does not convert: such a manifest is refused as a whole. Walked without
// recursion, as the manifest may be nested deeply.
void RequireWholeNumbers(const Json& manifest) {
    std::vector<const Json*> pending{&manifest};
    while (!pending.empty()) {
        const Json* j = pending.back();
        pending.pop_back();
        if (j->is_number_float())
            throw std::runtime_error("machine manifest: " + j->dump() + " is not a whole number");
        if (j->is_array()) {
            for (const Json& e : *j) pending.push_back(&e);
        } else if (j->is_object()) {
            for (const auto& [key, value] : j->items())
                if (key != "wmi") pending.push_back(&value);
        }
    }
}

}  // namespace

SimPlatform::SimPlatform(const Json& manifest, std::string dir)
    : manifest_(std::make_unique<Json>(manifest)), dir_(std::move(dir)) {
    const Json& m = *manifest_;
    if (!m.is_object()) throw std::runtime_error("machine manifest: the top level must be an object");
    RequireWholeNumbers(m);
#ifdef _WIN32
    // The hive file is kept with POSIX calls: a Windows build refuses the machine
    // rather than forget its settings.
    if (m.contains("registry")) throw std::runtime_error("machine manifest: a registry file needs the Linux build");
#endif
    tick_ = m.contains("clock") ? m["clock"].value("start", 0u) : 0u;
    if (m.contains("drives")) {
        for (const Json& d : m.at("drives")) {
            if (!d.is_object() || !d.contains("path") || !d["path"].is_string())
                throw std::runtime_error("machine manifest: every drive needs a \"path\"");
            SimDrive drive{d["path"].get<std::string>(), std::make_shared<const Json>(d)};
            drive.diskSeq = d.contains("diskSeq") ? d["diskSeq"].get<uint64_t>() : drives_.size() + 1;
            drives_.push_back(std::move(drive));
        }
    }
}

SimPlatform::~SimPlatform() = default;

std::unique_ptr<SimPlatform> SimPlatform::FromManifestFile(const std::string& path) {
    // Not blocking: a FIFO or a device under that name must not hang the program.
#ifdef _WIN32
    const int fd = ::open(path.c_str(), O_RDONLY | O_BINARY);
#else
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
#endif
    if (fd < 0) throw std::runtime_error("cannot read machine manifest " + path);
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > MaxManifestBytes) {
        ::close(fd);
        throw std::runtime_error("machine manifest " + path + " is not a file of at most " +
                                 std::to_string(MaxManifestBytes >> 20) + " MiB");
    }
    std::string text;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || text.size() + static_cast<size_t>(n) > MaxManifestBytes) {
            ::close(fd);
            if (n == 0) break;
            throw std::runtime_error("cannot read machine manifest " + path);
        }
        text.append(buf, static_cast<size_t>(n));
    }
    auto slash = path.find_last_of('/');
    std::string dir = slash == std::string::npos ? "." : path.substr(0, slash);
    return FromJsonText(text, dir);
}

std::unique_ptr<SimPlatform> SimPlatform::FromJsonText(const std::string& text, std::string dir) {
    // Copying a parsed value recurses once per level: a manifest nested a hundred
    // thousand deep would overflow the stack, so it is refused while parsing.
    const auto depthGuard = [](int depth, Json::parse_event_t event, Json&) {
        if ((event == Json::parse_event_t::object_start || event == Json::parse_event_t::array_start) &&
            depth >= MaxManifestDepth)
            throw std::runtime_error("machine manifest: nested deeper than " + std::to_string(MaxManifestDepth) +
                                     " levels");
        return true;
    };
    Json j;
    try {
        j = Json::parse(text, depthGuard, true, /*ignore_comments=*/true);
    } catch (const Json::exception& e) {
        throw std::runtime_error(std::string("machine manifest: ") + e.what());
    }
    return std::make_unique<SimPlatform>(j, std::move(dir));
}

std::string SimPlatform::Resolve(const std::string& relative) const {
    if (relative.empty() || relative[0] == '/') return relative;
    return dir_ + "/" + relative;
}

bool SimPlatform::SaveScanRecord(const std::string& key, const std::string& json) {
    const Json& m = *manifest_;
    if (!m.contains("stateFolder") || !m["stateFolder"].is_string()) {
        lastError_ = 0;
        return false;
    }
#ifdef _WIN32
    // The record store uses POSIX calls; a Windows build keeps no records.
    (void)key;
    (void)json;
    lastError_ = 0;
    return false;
#else
    if (linuxbe::StoreScanRecordFile(Resolve(m["stateFolder"].get<std::string>()), key, json)) return true;
    lastError_ = static_cast<uint32_t>(errno);
    return false;
#endif
}

std::vector<std::string> SimPlatform::LoadScanRecords() {
    const Json& m = *manifest_;
    if (!m.contains("stateFolder") || !m["stateFolder"].is_string()) return {};
#ifdef _WIN32
    return {};
#else
    return linuxbe::LoadScanRecordFiles(Resolve(m["stateFolder"].get<std::string>()));
#endif
}

bool SimPlatform::RemoveDrive(const std::string& path) {
    for (size_t i = 0; i < drives_.size(); ++i) {
        if (drives_[i].gone || drives_[i].path != path) continue;
        Remove(i);
        return true;
    }
    return false;
}

void SimPlatform::Remove(size_t drive) {
    drives_[drive].gone = true;
    const auto removed = PhysicalDriveNumber(drives_[drive].path);
    if (!removed) return;
    for (SimDrive& d : drives_) {
        const auto n = PhysicalDriveNumber(d.path);
        if (!d.gone && n && *n > *removed) d.path = "\\\\.\\PhysicalDrive" + std::to_string(*n - 1);
    }
}

SimOpenFile* SimPlatform::Find(Handle h) {
    auto it = handles_.find(h);
    return it == handles_.end() ? nullptr : &it->second;
}

bool SimPlatform::DeviceIoControl(Handle h, uint32_t code, const void* in, uint32_t inSize,
                                  void* out, uint32_t outSize, uint32_t* bytesReturned) {
    if (bytesReturned) *bytesReturned = 0;
    SimOpenFile* f = Find(h);
    if (!f) {
        lastError_ = EBADF;
        return false;
    }
    ControlRecord rec{DriveOf(*f).path, code, {}};
    if (in && inSize) {
        auto* p = static_cast<const uint8_t*>(in);
        rec.input.assign(p, p + inSize);
    }
    controls_.push_back(std::move(rec));
    switch (code) {
    case IOCTL_DISK_GET_PARTITION_INFO:
    case IOCTL_DISK_GET_DRIVE_GEOMETRY:
    case IOCTL_DISK_GET_DRIVE_LAYOUT:
    case IOCTL_STORAGE_GET_DRIVE_IDENTITY:
        return DiskControl(*f, code, out, outSize, bytesReturned);
    case SMART_GET_VERSION:
    case SMART_SEND_DRIVE_COMMAND:
    case SMART_RCV_DRIVE_DATA:
    case IOCTL_SCSI_PASS_THROUGH:
        return SmartControl(*f, code, in, inSize, out, outSize, bytesReturned);
    case IOCTL_STORAGE_QUERY_PROPERTY:
        return NvmeControl(*f, in, inSize, out, outSize, bytesReturned);
    default:
        lastError_ = EINVAL;
        return false;
    }
}

bool SimPlatform::CloseHandle(Handle h) {
    queues_.erase(h);
    if (handles_.erase(h) == 0) {
        lastError_ = EBADF;
        return false;
    }
    return true;
}

std::string SimPlatform::SystemErrorText(uint32_t code) {
    const Json& m = *manifest_;
    std::string key = std::to_string(code);
    if (m.contains("errors") && m["errors"].contains(key)) return m["errors"][key].get<std::string>();
    return std::strerror(static_cast<int>(code));
}

uint32_t SimPlatform::GetLogicalDrives() {
    const Json& m = *manifest_;
    if (m.contains("logicalDrives")) return m["logicalDrives"].get<uint32_t>();
    uint32_t mask = 1u << 2;  // C:
    for (const auto& d : drives_) {
        if (d.gone) continue;
        if (d.path == "\\\\.\\A:") mask |= 1u;
        if (d.path == "\\\\.\\B:") mask |= 2u;
    }
    return mask;
}

bool SimPlatform::GetVolumeInformation(const std::string& rootPath, std::string* volumeName,
                                       std::string* fileSystemName) {
    const Json& m = *manifest_;
    if (!m.contains("volumes") || !m["volumes"].contains(rootPath)) {
        lastError_ = ErrorNoMedium;
        return false;
    }
    const Json& v = m["volumes"][rootPath];
    if (volumeName) *volumeName = v.value("label", "");
    if (fileSystemName) *fileSystemName = v.value("fileSystem", "FAT");
    return true;
}

uint32_t SimPlatform::GetTickCount() { return tick_; }

uint32_t SimPlatform::PlatformId() { return manifest_->value("platformId", VER_PLATFORM_WIN32_NT); }

bool SimPlatform::GetComputerName(std::string& name) {
    if (!manifest_->contains("computerName")) {
        lastError_ = ENOENT;
        return false;
    }
    name = (*manifest_)["computerName"].get<std::string>();
    return true;
}

bool SimPlatform::GetUserName(std::string& name) {
    if (!manifest_->contains("userName")) {
        lastError_ = ENOENT;
        return false;
    }
    name = (*manifest_)["userName"].get<std::string>();
    return true;
}

bool SimPlatform::SocketsStartup() { return !manifest_->value("socketsFail", false); }

bool SimPlatform::GetHostName(std::string& name) {
    name = manifest_->value("hostName", "simhost");
    return true;
}

std::optional<std::vector<std::string>> SimPlatform::ResolveIpv4(const std::string& host) {
    const Json& m = *manifest_;
    if (host != m.value("hostName", "simhost") || !m.contains("hostAddresses")) return std::nullopt;
    auto addrs = m["hostAddresses"].get<std::vector<std::string>>();
    if (addrs.empty()) return std::nullopt;
    return addrs;
}

std::string SimPlatform::SpecialFolderPath(int csidl) {
    if (csidl != CSIDL_STARTUP || !manifest_->contains("startupFolder")) return {};
    return Resolve((*manifest_)["startupFolder"].get<std::string>());
}

bool SimPlatform::FileExists(const std::string& path) {
    struct stat st{};
#ifdef _WIN32
    return ::stat(path.c_str(), &st) == 0;
#else
    return ::lstat(path.c_str(), &st) == 0;
#endif
}

std::string SimPlatform::ExecutablePath() {
    return manifest_->value("executable", "/usr/local/bin/scandor");
}

}  // namespace platform::sim
