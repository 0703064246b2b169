#include "drive/harddrive.h"

#include <cstring>
#include <memory>

#include "platform/platform.h"

using namespace platform;

DriveIdentity QueryDriveIdentity(Platform& platform, Handle h) {
    DRIVE_IDENTITY raw{};
    uint32_t returned = 0;
    DriveIdentity id;
    if (!platform.DeviceIoControl(h, IOCTL_STORAGE_GET_DRIVE_IDENTITY, nullptr, 0, &raw, sizeof raw, &returned) ||
        returned < sizeof raw)
        return id;
    id.known = true;
    id.deviceNumber = raw.DeviceNumber;
    id.fileIndex = raw.FileIndex;
    id.diskSequence = raw.DiskSequence;
    raw.DeviceNode[sizeof raw.DeviceNode - 1] = '\0';
    id.node = raw.DeviceNode;
    return id;
}

THardDrive::THardDrive(Platform& platform, const std::string& devicePath)
    : DevicePath(devicePath), platform_(platform) {
    PartitionInfoValid = QueryPartitionInfo(devicePath);
    GeometryValid = QueryGeometry(devicePath);
    LayoutValid = QueryLayout(devicePath);
    if (identityConflict_) {
        PartitionInfoValid = GeometryValid = LayoutValid = 0;
        Identity = DriveIdentity{};
    }
    DeriveSize();
}

int32_t THardDrive::Query(const std::string& devicePath, uint32_t code, void* field,
                          uint32_t size) {
    // Zeroed, so layout entries the driver leaves alone read as zero after the copy.
    auto buffer = std::make_unique<uint8_t[]>(size);
    std::memset(buffer.get(), 0, size);
    Handle h = platform_.CreateFile(devicePath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    OPEN_EXISTING, 0);
    if (h == InvalidHandle) return 0;
    // Every open is checked: the probe's answers must all describe one disk.
    const DriveIdentity id = QueryDriveIdentity(platform_, h);
    if (!opened_) Identity = id;
    else if (Identity.known != id.known || (id.known && !Identity.SameDisk(id))) identityConflict_ = true;
    opened_ = true;
    uint32_t returned = 0;
    bool ok = platform_.DeviceIoControl(h, code, nullptr, 0, buffer.get(), size, &returned);
    if (ok) std::memcpy(field, buffer.get(), size);
    platform_.CloseHandle(h);
    return ok ? 1 : 0;
}

int32_t THardDrive::QueryPartitionInfo(const std::string& devicePath) {
    return Query(devicePath, IOCTL_DISK_GET_PARTITION_INFO, &PartitionInfo, sizeof PartitionInfo);
}

int32_t THardDrive::QueryGeometry(const std::string& devicePath) {
    return Query(devicePath, IOCTL_DISK_GET_DRIVE_GEOMETRY, &Geometry, sizeof Geometry);
}

int32_t THardDrive::QueryLayout(const std::string& devicePath) {
    return Query(devicePath, IOCTL_DISK_GET_DRIVE_LAYOUT, &Layout, sizeof Layout);
}

// The partition length wins over the geometry product whenever it covers at
// least one 512-byte sector; the divisor is always the literal 512.
void THardDrive::DeriveSize() {
    const int64_t length = PartitionInfo.PartitionLength;
    if (GeometryValid) {
        uint64_t sectors = static_cast<uint64_t>(Geometry.Cylinders) *
                           Geometry.TracksPerCylinder * Geometry.SectorsPerTrack;
        TotalSectors = static_cast<int64_t>(sectors);
        TotalBytes = static_cast<int64_t>(sectors * Geometry.BytesPerSector);
        if (length / 512 > 0) {
            TotalSectors = length / 512;
            TotalBytes = length;
        }
    } else if (PartitionInfoValid) {
        if (length / 512 > 0) {
            TotalSectors = length / 512;
            TotalBytes = length;
        }
    } else {
        TotalSectors = 0;
        TotalBytes = 0;
    }
}
