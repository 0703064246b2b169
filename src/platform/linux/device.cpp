// Drive paths, raw reads and the disk queries.
#include <cerrno>

#include "platform/linux/linux_platform.h"

namespace platform::linuxbe {

Handle LinuxPlatform::CreateFile(const std::string&, uint32_t, uint32_t, uint32_t, uint32_t) {
    lastError_ = ENOSYS;
    return InvalidHandle;
}

uint32_t LinuxPlatform::SetFilePointer(Handle, int32_t, int32_t*, uint32_t) {
    lastError_ = ENOSYS;
    return INVALID_SET_FILE_POINTER;
}

bool LinuxPlatform::ReadFile(Handle, void*, uint32_t, uint32_t* bytesRead) {
    if (bytesRead) *bytesRead = 0;
    lastError_ = ENOSYS;
    return false;
}

bool LinuxPlatform::DiskControl(OpenFile&, uint32_t, void*, uint32_t, uint32_t*) {
    lastError_ = ENOSYS;
    return false;
}

uint32_t LinuxPlatform::GetLogicalDrives() { return 0; }

bool LinuxPlatform::GetVolumeInformation(const std::string&, std::string*, std::string*) {
    lastError_ = ENOSYS;
    return false;
}

}  // namespace platform::linuxbe
