// Which Linux device stands behind a Windows drive path.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace platform::linuxbe {

// Names in /sys/block of the whole disks, in the order that gives them their
// physical-drive numbers: sd, hd, vd, xvd, nvme, mmcblk, then loop devices that
// have a backing file; within a kind by number. Partitions, RAM and compressed
// swap devices, optical drives and floppies are not physical drives.
std::vector<std::string> WholeDisks(const std::string& sysBlock = "/sys/block");

// The node to open for a drive path: /dev/<disk> for \\.\PhysicalDriveN, /dev/fd0 and
// /dev/fd1 for \\.\A: and \\.\B:, an absolute path as it stands (an image file or a
// device node). nullopt when the path names nothing.
std::optional<std::string> DeviceNodeForPath(const std::string& path,
                                             const std::string& sysBlock = "/sys/block");

}  // namespace platform::linuxbe
