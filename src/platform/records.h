// Byte-exact layouts of the Windows records the drive and SMART layers exchange
// with the platform. Every backend fills these exactly as the Windows disk driver
// would, so the domain code is the same on every platform.
#pragma once

#include <cstdint>

namespace platform {

// Control codes of DeviceIoControl.
constexpr uint32_t IOCTL_DISK_GET_PARTITION_INFO = 0x00074004;
constexpr uint32_t IOCTL_DISK_GET_DRIVE_GEOMETRY = 0x00070000;
constexpr uint32_t IOCTL_DISK_GET_DRIVE_LAYOUT = 0x0007400C;
constexpr uint32_t SMART_GET_VERSION = 0x00074080;
constexpr uint32_t SMART_SEND_DRIVE_COMMAND = 0x0007C084;
constexpr uint32_t SMART_RCV_DRIVE_DATA = 0x0007C088;
constexpr uint32_t IOCTL_SCSI_PASS_THROUGH = 0x0004D004;
// Which disk stands behind a handle (DRIVE_IDENTITY). Drive numbers and device names
// move when disks come and go; this answer does not pass to another disk.
constexpr uint32_t IOCTL_STORAGE_GET_DRIVE_IDENTITY = 0x002D5F00;

#pragma pack(push, 1)

struct PARTITION_INFORMATION {
    int64_t StartingOffset;
    int64_t PartitionLength;
    uint32_t HiddenSectors;
    uint32_t PartitionNumber;
    uint8_t PartitionType;
    uint8_t BootIndicator;
    uint8_t RecognizedPartition;
    uint8_t RewritePartition;
    uint8_t Padding[4];  // LARGE_INTEGER alignment of the Windows record
};

struct DISK_GEOMETRY {
    int64_t Cylinders;
    uint32_t MediaType;
    uint32_t TracksPerCylinder;
    uint32_t SectorsPerTrack;
    uint32_t BytesPerSector;
};

constexpr int LayoutEntries = 101;

struct DRIVE_LAYOUT_INFORMATION {
    uint32_t PartitionCount;
    uint32_t Signature;
    PARTITION_INFORMATION PartitionEntry[LayoutEntries];
};

struct IDEREGS {
    uint8_t bFeaturesReg;
    uint8_t bSectorCountReg;
    uint8_t bSectorNumberReg;
    uint8_t bCylLowReg;
    uint8_t bCylHighReg;
    uint8_t bDriveHeadReg;
    uint8_t bCommandReg;
    uint8_t bReserved;
};

struct SENDCMDINPARAMS {
    uint32_t cBufferSize;
    IDEREGS irDriveRegs;
    uint8_t bDriveNumber;
    uint8_t bReserved[3];
    uint32_t dwReserved[4];
    uint8_t bBuffer[1];
};

struct GETVERSIONOUTPARAMS {
    uint8_t bVersion;
    uint8_t bRevision;
    uint8_t bReserved;
    uint8_t bIDEDeviceMap;
    uint32_t fCapabilities;
    uint32_t dwReserved[4];
};

struct DRIVERSTATUS {
    uint8_t bDriverError;
    uint8_t bIDEError;
    uint8_t bReserved[2];
    uint32_t dwReserved[2];
};

// Head of SENDCMDOUTPARAMS; the data bytes follow it.
struct SENDCMDOUTPARAMS_HEAD {
    uint32_t cBufferSize;
    DRIVERSTATUS DriverStatus;
};

// SCSI_PASS_THROUGH as the 32-bit Windows headers lay it out, followed by the
// sense and data buffers the SCSI serial query uses.
struct SCSI_PASS_THROUGH {
    uint16_t Length;
    uint8_t ScsiStatus;
    uint8_t PathId;
    uint8_t TargetId;
    uint8_t Lun;
    uint8_t CdbLength;
    uint8_t SenseInfoLength;
    uint8_t DataIn;
    uint8_t Padding[3];
    uint32_t DataTransferLength;
    uint32_t TimeOutValue;
    uint32_t DataBufferOffset;
    uint32_t SenseInfoOffset;
    uint8_t Cdb[16];
};

struct SCSI_PASS_THROUGH_BLOCK {
    SCSI_PASS_THROUGH Spt;
    uint8_t Sense[32];
    uint8_t Data[192];
};

#pragma pack(pop)

static_assert(sizeof(PARTITION_INFORMATION) == 32);
static_assert(sizeof(DISK_GEOMETRY) == 24);
static_assert(sizeof(DRIVE_LAYOUT_INFORMATION) == 3240);
static_assert(sizeof(IDEREGS) == 8);
static_assert(sizeof(SENDCMDINPARAMS) == 33);
static_assert(sizeof(GETVERSIONOUTPARAMS) == 24);
static_assert(sizeof(DRIVERSTATUS) == 12);
static_assert(sizeof(SENDCMDOUTPARAMS_HEAD) == 16);
static_assert(sizeof(SCSI_PASS_THROUGH) == 44);
static_assert(sizeof(SCSI_PASS_THROUGH_BLOCK) == 268);

// Size of one SMART command output block: head, 512 data bytes, one spare byte.
constexpr uint32_t SmartOutBlockSize = sizeof(SENDCMDOUTPARAMS_HEAD) + 512 + 1;
static_assert(SmartOutBlockSize == 529);

// A disk as the system knows it while it runs. A disk removed and added again
// gets a new sequence number, so equal records mean the same disk.
struct DRIVE_IDENTITY {
    uint64_t DeviceNumber;  // block device: its device number; image file: its file system's
    uint64_t FileIndex;     // image file: its inode number; block device: 0
    uint64_t DiskSequence;  // the kernel's disk sequence number; 0 when it has none
    char DeviceNode[256];   // what was opened (/dev/sdb, an image file), NUL-terminated
};

// DISK_GEOMETRY.MediaType values.
constexpr uint32_t RemovableMedia = 11;
constexpr uint32_t FixedMedia = 12;
constexpr uint32_t F3_1Pt44_512 = 2;

}  // namespace platform
