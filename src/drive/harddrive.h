// The drive probe: three disk-driver answers about one device and its size.
#pragma once

#include <cstdint>
#include <string>

#include "drive/driveidentity.h"
#include "platform/records.h"

namespace platform { class Platform; }

// The program-wide sector size. Not the geometry's figure, which only the size
// derivation of THardDrive uses.
constexpr uint16_t BytesPerSector = 512;

class THardDrive {
public:
    // Never fails: a device that cannot be opened gives three false flags and
    // zero sizes.
    THardDrive(platform::Platform& platform, const std::string& devicePath);

    // Each opens and closes the device itself; nonzero on success, and only then
    // is its field filled.
    int32_t QueryPartitionInfo(const std::string& devicePath);
    int32_t QueryGeometry(const std::string& devicePath);
    int32_t QueryLayout(const std::string& devicePath);

    std::string DevicePath;
    int64_t TotalBytes = 0;
    int64_t TotalSectors = 0;
    alignas(8) platform::PARTITION_INFORMATION PartitionInfo{};
    int32_t PartitionInfoValid = 0;
    alignas(8) platform::DISK_GEOMETRY Geometry{};
    int32_t GeometryValid = 0;
    alignas(8) platform::DRIVE_LAYOUT_INFORMATION Layout{};
    int32_t LayoutValid = 0;
    // The disk the three answers came from. When the opens reached different
    // disks (the numbering moved during the probe), every flag is cleared.
    DriveIdentity Identity;

private:
    int32_t Query(const std::string& devicePath, uint32_t code, void* field, uint32_t size);
    void DeriveSize();

    platform::Platform& platform_;
    bool opened_ = false;
    bool identityConflict_ = false;
};
