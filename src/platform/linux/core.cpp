#include <ifaddrs.h>
#include <netdb.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <arpa/inet.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/invoker.h"
#include "platform/linux/linux_platform.h"

namespace platform::linuxbe {

LinuxPlatform::LinuxPlatform(std::string hivePath) : hivePath_(std::move(hivePath)) {}

LinuxPlatform::~LinuxPlatform() {
    for (auto& [h, f] : handles_) {
        f.overlapped.reset();  // reads in flight end before their descriptor
        if (f.fd >= 0) ::close(f.fd);
    }
}

OpenFile* LinuxPlatform::Find(Handle h) {
    auto it = handles_.find(h);
    return it == handles_.end() ? nullptr : &it->second;
}

bool LinuxPlatform::DeviceIoControl(Handle h, uint32_t code, const void* in, uint32_t inSize,
                                    void* out, uint32_t outSize, uint32_t* bytesReturned) {
    if (bytesReturned) *bytesReturned = 0;
    OpenFile* f = Find(h);
    if (!f) {
        lastError_ = EBADF;
        return false;
    }
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

bool LinuxPlatform::CloseHandle(Handle h) {
    auto it = handles_.find(h);
    if (it == handles_.end()) {
        lastError_ = EBADF;
        return false;
    }
    it->second.overlapped.reset();  // reads in flight end before their descriptor
    if (it->second.fd >= 0) ::close(it->second.fd);
    handles_.erase(it);
    return true;
}

std::string LinuxPlatform::SystemErrorText(uint32_t code) {
    return std::strerror(static_cast<int>(code));
}

uint32_t LinuxPlatform::GetTickCount() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

bool LinuxPlatform::GetComputerName(std::string& name) {
    char buf[HOST_NAME_MAX + 1] = {};
    if (gethostname(buf, sizeof buf - 1) != 0) {
        lastError_ = static_cast<uint32_t>(errno);
        return false;
    }
    // Windows computer names are the host name up to the first dot.
    name = buf;
    if (auto dot = name.find('.'); dot != std::string::npos) name.resize(dot);
    return true;
}

bool LinuxPlatform::GetUserName(std::string& name) {
    if (passwd* pw = getpwuid(geteuid())) {
        name = pw->pw_name;
        return true;
    }
    lastError_ = static_cast<uint32_t>(errno ? errno : ENOENT);
    return false;
}

bool LinuxPlatform::GetHostName(std::string& name) {
    char buf[HOST_NAME_MAX + 1] = {};
    if (gethostname(buf, sizeof buf - 1) != 0) return false;
    name = buf;
    return true;
}

std::optional<std::vector<std::string>> LinuxPlatform::ResolveIpv4(const std::string& host) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &res) != 0 || !res) return std::nullopt;
    std::vector<std::string> out;
    for (addrinfo* p = res; p; p = p->ai_next) {
        char text[INET_ADDRSTRLEN] = {};
        auto* sin = reinterpret_cast<sockaddr_in*>(p->ai_addr);
        if (inet_ntop(AF_INET, &sin->sin_addr, text, sizeof text)) {
            std::string s = text;
            bool seen = false;
            for (auto& o : out) seen = seen || o == s;
            if (!seen) out.push_back(s);
        }
    }
    freeaddrinfo(res);
    if (out.empty()) return std::nullopt;
    return out;
}

std::string LinuxPlatform::SpecialFolderPath(int csidl) {
    if (csidl != CSIDL_STARTUP) return {};
    // The folder of the user who started the program, also under sudo or
    // pkexec (which resets HOME).
    auto user = FindInvokingUser();
    if (!user) return {};
    return AutostartFolderOf(*user, std::getenv("XDG_CONFIG_HOME"));
}

bool LinuxPlatform::FileExists(const std::string& path) {
    struct stat st{};
    return ::lstat(path.c_str(), &st) == 0;
}

std::string LinuxPlatform::ExecutablePath() {
    char buf[PATH_MAX] = {};
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

}  // namespace platform::linuxbe
