// Drive paths, raw reads and the disk queries.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/linux/devicemap.h"
#include "platform/linux/linux_platform.h"

namespace platform::linuxbe {

// Every drive is opened here, and only for reading: the access asked for is not
// consulted, so no path through this layer can hand out a writable descriptor.
Handle LinuxPlatform::CreateFile(const std::string& path, uint32_t, uint32_t, uint32_t creation,
                                 uint32_t) {
    if (creation != OPEN_EXISTING) {
        lastError_ = EINVAL;
        return InvalidHandle;
    }
    auto node = DeviceNodeForPath(path);
    if (!node) {
        lastError_ = ENOENT;
        return InvalidHandle;
    }
    OpenFile f;
    f.path = path;
    f.node = *node;
    f.fd = ::open(node->c_str(), O_RDONLY | O_CLOEXEC | O_DIRECT);
    f.direct = f.fd >= 0;
    if (f.fd < 0 && errno == EINVAL) f.fd = ::open(node->c_str(), O_RDONLY | O_CLOEXEC);
    if (f.fd < 0) {
        lastError_ = static_cast<uint32_t>(errno);
        return InvalidHandle;
    }
    struct stat st{};
    if (::fstat(f.fd, &st) == 0) f.blockDevice = S_ISBLK(st.st_mode);
    Handle h = nextHandle_++;
    handles_.emplace(h, std::move(f));
    return h;
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
