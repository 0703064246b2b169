// Startup-folder entries.
#include <cerrno>

#include "platform/linux/linux_platform.h"

namespace platform::linuxbe {

bool LinuxPlatform::SaveShortcut(const std::string&, const ShortcutSpec&) {
    lastError_ = ENOSYS;
    return false;
}

}  // namespace platform::linuxbe
