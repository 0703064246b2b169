// Win32_DiskDrive answers of the simulated machine.
#include "platform/sim/sim_platform.h"

namespace platform::sim {

WmiQueryResult SimPlatform::WmiExecQuery(const std::string&, const std::string&) {
    WmiQueryResult r;
    r.error = "WMI is not simulated";
    return r;
}

}  // namespace platform::sim
