// Win32_DiskDrive objects of the real machine.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

namespace platform::linuxbe {

// One object per whole disk of sysBlock, in drive-number order: Name, Model,
// InterfaceType, SerialNumber, Size, Index, MediaType, Capabilities, and the
// disk's WWN and /dev/disk/by-id names (ByIdNames, sorted) from udev.
std::vector<WmiObject> DiskDriveObjects(const std::string& sysBlock = "/sys/block");

// A query answered from the disks of sysBlock.
WmiQueryResult AnswerWql(const std::string& nameSpace, const std::string& wql,
                         const std::string& sysBlock = "/sys/block");

// The model a drive gives in its ATA IDENTIFY answer (words 27-46), trimmed; empty
// when the node is no block device or does not answer ATA.
std::string AtaIdentifyModel(const std::string& node);

// udev's \xNN escapes (ID_MODEL_ENC) decoded; other text as it stands.
std::string DecodeUdevEscapes(const std::string& text);

}  // namespace platform::linuxbe
