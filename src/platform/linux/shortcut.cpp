// Startup-folder entries.
#include <cerrno>

#include "platform/desktopentry.h"
#include "platform/linux/linux_platform.h"

namespace platform::linuxbe {

bool LinuxPlatform::SaveShortcut(const std::string& linkPath, const ShortcutSpec& desc) {
    if (SaveDesktopEntry(linkPath, desc)) return true;
    lastError_ = static_cast<uint32_t>(errno);
    return false;
}

}  // namespace platform::linuxbe
