// The Windows headers, after the seam's: the SDK's macros share names with the
// seam's constants and operations. The seam's values are kept here under other
// names before the macros exist; the A/W macros that would rename the seam's
// virtual functions (in some files only) are removed.
#pragma once

#include "platform/platform.h"
#include "platform/records.h"

namespace platform::seam {
constexpr uint32_t PartitionInfo = IOCTL_DISK_GET_PARTITION_INFO;
constexpr uint32_t DriveGeometry = IOCTL_DISK_GET_DRIVE_GEOMETRY;
constexpr uint32_t DriveLayout = IOCTL_DISK_GET_DRIVE_LAYOUT;
constexpr uint32_t SmartVersion = SMART_GET_VERSION;
constexpr uint32_t SmartSend = SMART_SEND_DRIVE_COMMAND;
constexpr uint32_t SmartReceive = SMART_RCV_DRIVE_DATA;
constexpr uint32_t ScsiPassThrough = IOCTL_SCSI_PASS_THROUGH;
constexpr uint32_t QueryProperty = IOCTL_STORAGE_QUERY_PROPERTY;
constexpr uint32_t OpenExisting = OPEN_EXISTING;
constexpr uint32_t FileBegin = FILE_BEGIN;
constexpr uint32_t InvalidSetFilePointer = INVALID_SET_FILE_POINTER;
constexpr uint32_t RegSz = REG_SZ;
constexpr uint32_t RegDword = REG_DWORD;
constexpr int CsidlStartup = CSIDL_STARTUP;
}  // namespace platform::seam

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#undef CreateFile
#undef GetComputerName
#undef GetUserName
#undef GetVolumeInformation
#undef FormatMessage
