// Windows drive paths, as the program names its drives on every platform.
#pragma once

#include <optional>
#include <string>

namespace platform {

// "\\.\PhysicalDrive3" -> 3; nullopt for anything else. Case-insensitive, as on
// Windows; at most nine digits, so the number always fits.
std::optional<int> PhysicalDriveNumber(const std::string& path);

// 3 -> "\\.\PhysicalDrive3".
inline std::string PhysicalDrivePath(int number) { return "\\\\.\\PhysicalDrive" + std::to_string(number); }

}  // namespace platform
