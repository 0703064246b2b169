// Startup-folder entries of the simulated machine: real files in its folder.
#include <cerrno>

#include "platform/desktopentry.h"
#include "platform/sim/sim_platform.h"

namespace platform::sim {

bool SimPlatform::SaveShortcut(const std::string& linkPath, const ShortcutSpec& desc) {
    if (SaveDesktopEntry(linkPath, desc)) return true;
    lastError_ = static_cast<uint32_t>(errno);
    return false;
}

}  // namespace platform::sim
