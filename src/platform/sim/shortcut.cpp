// Startup-folder entries of the simulated machine: real files in its folder.
#include <cerrno>

#ifndef _WIN32
#include "platform/desktopentry.h"
#endif
#include "platform/sim/sim_platform.h"

namespace platform::sim {

bool SimPlatform::SaveShortcut(const std::string& linkPath, const ShortcutSpec& desc) {
#ifdef _WIN32
    // Desktop entries are written with POSIX calls; a Windows build simulates
    // machines without them.
    (void)linkPath;
    (void)desc;
    lastError_ = ENOSYS;
    return false;
#else
    if (SaveDesktopEntry(linkPath, desc)) return true;
    lastError_ = static_cast<uint32_t>(errno);
    return false;
#endif
}

}  // namespace platform::sim
