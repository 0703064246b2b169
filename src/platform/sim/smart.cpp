// SMART and SCSI answers of simulated drives.
#include <cerrno>

#include "platform/sim/sim_platform.h"

namespace platform::sim {

bool SimPlatform::SmartControl(SimOpenFile&, uint32_t, const void*, uint32_t, void*, uint32_t,
                               uint32_t*) {
    lastError_ = ENOSYS;
    return false;
}

}  // namespace platform::sim
