// Drive contents, unreadable ranges and the disk queries of simulated drives.
#include <cerrno>

#include "platform/sim/sim_platform.h"

namespace platform::sim {

Handle SimPlatform::CreateFile(const std::string& path, uint32_t access, uint32_t share,
                               uint32_t creation, uint32_t) {
    opens_.push_back({path, access, share, creation});
    lastError_ = ENOSYS;
    return InvalidHandle;
}

uint32_t SimPlatform::SetFilePointer(Handle, int32_t, int32_t*, uint32_t) {
    lastError_ = ENOSYS;
    return INVALID_SET_FILE_POINTER;
}

bool SimPlatform::ReadFile(Handle, void*, uint32_t, uint32_t* bytesRead) {
    if (bytesRead) *bytesRead = 0;
    lastError_ = ENOSYS;
    return false;
}

bool SimPlatform::DiskControl(SimOpenFile&, uint32_t, void*, uint32_t, uint32_t*) {
    lastError_ = ENOSYS;
    return false;
}

}  // namespace platform::sim
