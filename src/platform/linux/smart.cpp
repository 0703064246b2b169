// SMART and SCSI pass-through controls.
#include <cerrno>

#include "platform/linux/linux_platform.h"

namespace platform::linuxbe {

bool LinuxPlatform::SmartControl(OpenFile&, uint32_t, const void*, uint32_t, void*, uint32_t,
                                 uint32_t*) {
    lastError_ = ENOSYS;
    return false;
}

}  // namespace platform::linuxbe
