// Drive contents, unreadable ranges and the disk queries of simulated drives.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>

#include "platform/errors.h"
#include "platform/sim/sim_platform.h"

namespace platform::sim {

namespace {

bool IsFloppyPath(const std::string& path) {
    return path.size() == 6 && path.rfind("\\\\.\\", 0) == 0 && path[5] == ':';
}

// The byte at an offset of a drive without an image: varies per sector and
// within it, so a read of the wrong place shows.
uint8_t FillByte(int64_t offset) {
    return static_cast<uint8_t>((offset >> 9) * 31 + (offset & 511));
}

}  // namespace

// Size of a drive: "size", else the image's length, else 0.
static int64_t DriveSize(const Json& d, const std::string& imagePath) {
    if (d.contains("size")) return d["size"].get<int64_t>();
    if (!imagePath.empty()) {
        struct stat st{};
        if (::stat(imagePath.c_str(), &st) == 0) return st.st_size;
    }
    return 0;
}

Handle SimPlatform::CreateFile(const std::string& path, uint32_t access, uint32_t share,
                               uint32_t creation, uint32_t) {
    opens_.push_back({path, access, share, creation});
    if (creation != OPEN_EXISTING) {
        lastError_ = EINVAL;
        return InvalidHandle;
    }
    for (size_t i = 0; i < drives_.size(); ++i) {
        if (drives_[i].gone || drives_[i].path != path) continue;
        const Json& d = *drives_[i].desc;
        if (drives_[i].opens == d.value("removeAfterOpens", int64_t{-1})) {
            // Unplugged before this open: the path now leads to the drive after it.
            Remove(i);
            i = static_cast<size_t>(-1);
            continue;
        }
        if (d.contains("failOpen")) {
            lastError_ = d["failOpen"].get<uint32_t>();
            return InvalidHandle;
        }
        Handle h = nextHandle_++;
        handles_.emplace(h, SimOpenFile{i, 0, access});
        ++drives_[i].opens;
        lastError_ = 0;
        return h;
    }
    lastError_ = ENOENT;
    return InvalidHandle;
}

uint32_t SimPlatform::SetFilePointer(Handle h, int32_t low, int32_t* high, uint32_t method) {
    SimOpenFile* f = Find(h);
    if (!f) {
        lastError_ = EBADF;
        return INVALID_SET_FILE_POINTER;
    }
    if (method != FILE_BEGIN) {
        lastError_ = EINVAL;
        return INVALID_SET_FILE_POINTER;
    }
    int64_t target = high ? static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(*high)) << 32) |
                                                 static_cast<uint32_t>(low))
                          : static_cast<int64_t>(low);
    if (target < 0) {
        lastError_ = EINVAL;
        return INVALID_SET_FILE_POINTER;
    }
    f->position = target;
    lastError_ = 0;
    return static_cast<uint32_t>(static_cast<uint64_t>(target));
}

bool SimPlatform::ReadFile(Handle h, void* buffer, uint32_t size, uint32_t* bytesRead) {
    if (bytesRead) *bytesRead = 0;
    SimOpenFile* f = Find(h);
    if (!f) {
        lastError_ = EBADF;
        return false;
    }
    SimDrive& drive = drives_[f->drive];
    const Json& d = *drive.desc;
    const Json& m = *manifest_;
    if (m.contains("clock")) tick_ += m["clock"].value("msPerRead", 0u);
    const int64_t pos = f->position;
    reads_.push_back(pos);
    if (!drive.gone && ++drive.reads > d.value("vanishAfterReads", INT64_MAX)) Remove(f->drive);
    if (drive.gone) {
        // What the Linux backend reports for a disk that went during the run.
        lastError_ = ErrorDeviceGone;
        return false;
    }

    const std::string image = d.contains("image") ? Resolve(d["image"].get<std::string>()) : "";
    const int64_t driveSize = DriveSize(d, image);
    // All or nothing, except that a read reaching past the end returns what exists.
    const int64_t end = std::min<int64_t>(pos + size, std::max<int64_t>(driveSize, pos));
    if (d.contains("unreadable")) {
        for (const Json& r : d["unreadable"]) {
            int64_t from = r.at("offset").get<int64_t>();
            int64_t to = from + r.at("length").get<int64_t>();
            if (from < end && to > pos) {
                lastError_ = d.value("readError", static_cast<uint32_t>(EIO));
                return false;
            }
        }
    }
    const size_t count = static_cast<size_t>(end - pos);
    auto* out = static_cast<uint8_t*>(buffer);
    if (!image.empty()) {
#ifdef _WIN32
        std::FILE* file = std::fopen(image.c_str(), "rb");
        if (!file) {
            lastError_ = static_cast<uint32_t>(errno);
            return false;
        }
        size_t got = 0;
        if (::_fseeki64(file, pos, SEEK_SET) == 0) got = std::fread(out, 1, count, file);
        std::fclose(file);
#else
        int fd = ::open(image.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            lastError_ = static_cast<uint32_t>(errno);
            return false;
        }
        size_t got = 0;
        while (got < count) {
            ssize_t n = ::pread(fd, out + got, count - got, pos + static_cast<int64_t>(got));
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        ::close(fd);
#endif
        // An image shorter than the size given reads as zeros beyond its end.
        std::memset(out + got, 0, count - got);
    } else {
        for (size_t i = 0; i < count; ++i) out[i] = FillByte(pos + static_cast<int64_t>(i));
    }
    f->position = end;
    if (bytesRead) *bytesRead = static_cast<uint32_t>(count);
    lastError_ = 0;
    return true;
}

bool SimPlatform::DiskControl(SimOpenFile& f, uint32_t code, void* out, uint32_t outSize,
                              uint32_t* bytesReturned) {
    const SimDrive& drive = DriveOf(f);
    const Json& d = *drive.desc;
    const std::string image = d.contains("image") ? Resolve(d["image"].get<std::string>()) : "";
    const int64_t size = DriveSize(d, image);
    const bool floppy = IsFloppyPath(drive.path);
    auto fail = [&](uint32_t e) {
        lastError_ = e;
        return false;
    };
    auto answer = [&](const void* rec, uint32_t len) {
        if (!out || outSize < len) return fail(EINVAL);
        std::memcpy(out, rec, len);
        if (bytesReturned) *bytesReturned = len;
        lastError_ = 0;
        return true;
    };
    if (drive.gone) return fail(ErrorDeviceGone);
    if (code == IOCTL_STORAGE_GET_DRIVE_IDENTITY) {
        DRIVE_IDENTITY id{};
        id.DeviceNumber = d.value("deviceNumber", uint64_t{0x10000} + drive.diskSeq);
        id.DiskSequence = drive.diskSeq;
        const std::string node = d.value("node", image.empty() ? "/dev/simdisk" + std::to_string(drive.diskSeq) : image);
        std::strncpy(id.DeviceNode, node.c_str(), sizeof id.DeviceNode - 1);
        return answer(&id, sizeof id);
    }
    const char* key = code == IOCTL_DISK_GET_PARTITION_INFO   ? "partitionInfo"
                      : code == IOCTL_DISK_GET_DRIVE_GEOMETRY ? "geometry"
                                                              : "layout";
    if (d.contains(key) && d[key].is_boolean() && !d[key].get<bool>())
        return fail(d.value("controlError", static_cast<uint32_t>(ENOTTY)));
    const Json given = d.contains(key) && d[key].is_object() ? d[key] : Json::object();

    if (code == IOCTL_DISK_GET_PARTITION_INFO) {
        PARTITION_INFORMATION pi{};
        pi.StartingOffset = given.value("startingOffset", int64_t{0});
        pi.PartitionLength = given.value("partitionLength", size);
        pi.HiddenSectors = given.value("hiddenSectors", 0u);
        pi.PartitionNumber = given.value("partitionNumber", 0u);
        pi.PartitionType = given.value("partitionType", uint8_t{0});
        pi.BootIndicator = given.value("bootIndicator", uint8_t{0});
        pi.RecognizedPartition = given.value("recognizedPartition", uint8_t{0});
        return answer(&pi, sizeof pi);
    }
    if (code == IOCTL_DISK_GET_DRIVE_GEOMETRY) {
        DISK_GEOMETRY g{};
        const bool f144 = floppy && size == 1474560;
        g.TracksPerCylinder = given.value("tracksPerCylinder", f144 ? 2u : 255u);
        g.SectorsPerTrack = given.value("sectorsPerTrack", f144 ? 18u : 63u);
        g.BytesPerSector = given.value("bytesPerSector", 512u);
        const int64_t perCylinder =
            static_cast<int64_t>(g.TracksPerCylinder) * g.SectorsPerTrack * g.BytesPerSector;
        g.Cylinders = given.value("cylinders", perCylinder ? size / perCylinder : int64_t{0});
        g.MediaType = given.value("mediaType", f144 ? F3_1Pt44_512 : floppy ? RemovableMedia : FixedMedia);
        return answer(&g, sizeof g);
    }
    if (code == IOCTL_DISK_GET_DRIVE_LAYOUT) {
        constexpr uint32_t head = offsetof(DRIVE_LAYOUT_INFORMATION, PartitionEntry);
        const Json parts = given.value("partitions", Json::array());
        const uint64_t need = head + parts.size() * sizeof(PARTITION_INFORMATION);
        if (!out || parts.size() > static_cast<size_t>(LayoutEntries) || need > outSize)
            return fail(ENOBUFS);
        auto* bytes = static_cast<uint8_t*>(out);
        uint32_t count = static_cast<uint32_t>(parts.size());
        uint32_t signature = given.value("signature", 0u);
        std::memcpy(bytes, &count, 4);
        std::memcpy(bytes + 4, &signature, 4);
        for (size_t i = 0; i < parts.size(); ++i) {
            const Json& p = parts[i];
            PARTITION_INFORMATION e{};
            e.StartingOffset = p.value("startingOffset", int64_t{0});
            e.PartitionLength = p.value("partitionLength", int64_t{0});
            e.HiddenSectors = p.value("hiddenSectors", static_cast<uint32_t>(e.StartingOffset / 512));
            e.PartitionNumber = p.value("partitionNumber", static_cast<uint32_t>(i + 1));
            e.PartitionType = p.value("partitionType", uint8_t{0x07});
            e.BootIndicator = p.value("bootIndicator", uint8_t{0});
            e.RecognizedPartition = p.value("recognizedPartition", uint8_t{1});
            std::memcpy(bytes + head + i * sizeof e, &e, sizeof e);
        }
        if (bytesReturned) *bytesReturned = static_cast<uint32_t>(need);
        lastError_ = 0;
        return true;
    }
    return fail(EINVAL);
}

}  // namespace platform::sim
