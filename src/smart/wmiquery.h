// One property of one Win32_DiskDrive object, through the management
// instrumentation service of the platform.
#pragma once

#include <cstdint>
#include <string>

namespace platform {
class Platform;
struct WmiProperty;
}

namespace wmiquery {

// 1 when the query matched exactly one object, 0 for none, the count for several,
// -1 when anything failed. value is empty unless the result is 1 and the property
// had a (non-null) value.
int32_t WmiGetProperty(platform::Platform& platform, const std::string& query,
                       const std::string& propertyName, std::string& value);

// The drive's model text; empty when there is none.
std::string GetDriveModel(platform::Platform& platform, int driveNumber);

// The text form of a property's value by its CIM type. Integers outside 32 bits
// keep their full value; floating point is general format with 7 (real32) or 15
// (real64) significant digits and a point. Throws std::runtime_error when the value
// cannot be converted to its CIM type's form.
std::string WmiValueText(const platform::WmiProperty& property);

// SELECT Model FROM Win32_DiskDrive WHERE Name = "\\\\.\\PHYSICALDRIVEn"
std::string DriveModelQuery(int driveNumber);
// SELECT * FROM Win32_DiskDrive WHERE Name ="\\\\.\\PHYSICALDRIVEn" (property InterfaceType)
std::string InterfaceTypeQuery(int driveNumber);

}  // namespace wmiquery
