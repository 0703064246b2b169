// Startup-folder entries of the simulated machine.
#include <cerrno>

#include "platform/sim/sim_platform.h"

namespace platform::sim {

bool SimPlatform::SaveShortcut(const std::string&, const ShortcutSpec&) {
    lastError_ = ENOSYS;
    return false;
}

}  // namespace platform::sim
