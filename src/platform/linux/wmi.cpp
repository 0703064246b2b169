// Win32_DiskDrive queries answered from sysfs.
#include "platform/linux/linux_platform.h"

namespace platform::linuxbe {

WmiQueryResult LinuxPlatform::WmiExecQuery(const std::string&, const std::string&) {
    WmiQueryResult r;
    r.error = "WMI is not available on this machine";
    return r;
}

}  // namespace platform::linuxbe
