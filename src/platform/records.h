// Byte-exact layouts of the Windows records the drive and SMART layers exchange
// with the platform. Every backend fills these exactly as the Windows disk driver
// would, so the domain code is the same on every platform.
#pragma once

#include <cstddef>
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
constexpr uint32_t IOCTL_STORAGE_QUERY_PROPERTY = 0x002D1400;

// IOCTL_STORAGE_QUERY_PROPERTY with StorageDeviceProtocolSpecificProperty: NVMe
// admin data (Identify, Get Log Page) of the drive behind the handle.
constexpr uint32_t StorageDeviceProtocolSpecificProperty = 50;
constexpr uint32_t PropertyStandardQuery = 0;
constexpr uint32_t ProtocolTypeNvme = 3;
constexpr uint32_t NVMeDataTypeIdentify = 1;
constexpr uint32_t NVMeDataTypeLogPage = 2;
constexpr uint32_t NVME_IDENTIFY_CNS_SPECIFIC_NAMESPACE = 0;
constexpr uint32_t NVME_IDENTIFY_CNS_CONTROLLER = 1;
constexpr uint32_t NVME_LOG_PAGE_HEALTH_INFO = 0x02;
constexpr uint32_t NvmeIdentifySize = 4096;
constexpr uint32_t NvmeHealthLogSize = 512;
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

// STORAGE_PROPERTY_QUERY; for a protocol query a STORAGE_PROTOCOL_SPECIFIC_DATA
// starts at AdditionalParameters.
struct STORAGE_PROPERTY_QUERY {
    uint32_t PropertyId;
    uint32_t QueryType;
    uint8_t AdditionalParameters[1];
    uint8_t Padding[3];
};

// Identify: RequestValue = CNS, SubValue = NSID for CNS 0 (0: the namespace the
// handle stands for). Log page: RequestValue = log identifier, SubValue and
// SubValue2 = the byte offset into the page; the health log is read controller-wide.
// The data follows this record at ProtocolDataOffset.
struct STORAGE_PROTOCOL_SPECIFIC_DATA {
    uint32_t ProtocolType;
    uint32_t DataType;
    uint32_t ProtocolDataRequestValue;
    uint32_t ProtocolDataRequestSubValue;
    uint32_t ProtocolDataOffset;
    uint32_t ProtocolDataLength;
    uint32_t FixedProtocolReturnData;
    uint32_t ProtocolDataRequestSubValue2;
    uint32_t ProtocolDataRequestSubValue3;
    uint32_t ProtocolDataRequestSubValue4;
};

// The answer's head: Version and Size are sizeof this record.
struct STORAGE_PROTOCOL_DATA_DESCRIPTOR {
    uint32_t Version;
    uint32_t Size;
    STORAGE_PROTOCOL_SPECIFIC_DATA ProtocolSpecificData;
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
static_assert(sizeof(STORAGE_PROPERTY_QUERY) == 12);
static_assert(offsetof(STORAGE_PROPERTY_QUERY, AdditionalParameters) == 8);
static_assert(sizeof(STORAGE_PROTOCOL_SPECIFIC_DATA) == 40);
static_assert(sizeof(STORAGE_PROTOCOL_DATA_DESCRIPTOR) == 48);
static_assert(offsetof(STORAGE_PROTOCOL_DATA_DESCRIPTOR, ProtocolSpecificData) == 8);

// A protocol query and its answer share one buffer layout: 8 bytes of head, the
// protocol record, then the data.
constexpr uint32_t NvmeQueryHeadSize = 8 + sizeof(STORAGE_PROTOCOL_SPECIFIC_DATA);
static_assert(NvmeQueryHeadSize == 48);

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
