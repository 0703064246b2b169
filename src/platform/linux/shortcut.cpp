// Startup-folder entries.
#include <cerrno>

#include "platform/desktopentry.h"
#include "platform/linux/linux_platform.h"

namespace platform::linuxbe {

bool LinuxPlatform::SaveShortcut(const std::string& linkPath, const ShortcutSpec& desc) {
    // Often run as root: the entry goes into the invoking user's folder as theirs.
    auto user = FindInvokingUser();
    if (user && SaveDesktopEntryFor(*user, linkPath, desc)) return true;
    lastError_ = static_cast<uint32_t>(user ? errno : ENOENT);
    return false;
}

}  // namespace platform::linuxbe
