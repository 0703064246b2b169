// Win32_DiskDrive objects of the real machine.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

namespace platform::linuxbe {

// One object per whole disk of sysBlock, in drive-number order: Name, Model,
// InterfaceType, SerialNumber, Size, Index, MediaType, Capabilities.
std::vector<WmiObject> DiskDriveObjects(const std::string& sysBlock = "/sys/block");

// A query answered from the disks of sysBlock.
WmiQueryResult AnswerWql(const std::string& nameSpace, const std::string& wql,
                         const std::string& sysBlock = "/sys/block");

}  // namespace platform::linuxbe
