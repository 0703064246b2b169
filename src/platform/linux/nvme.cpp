// NVMe admin data through libnvme on the namespace block device's read-only
// descriptor (admin commands need CAP_SYS_ADMIN there, not write access). Only
// the three queries the allow-list names reach libnvme.
#include <libnvme.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/linux/linux_platform.h"
#include "platform/nvmequery.h"

namespace platform::linuxbe {

static_assert(sizeof(nvme_id_ctrl) == NvmeIdentifySize);
static_assert(sizeof(nvme_id_ns) == NvmeIdentifySize);
static_assert(sizeof(nvme_smart_log) == NvmeHealthLogSize);

namespace {

// libnvme: 0 done, > 0 an NVMe status (the command was refused), < 0 errno set.
uint32_t ErrorOf(int rc) {
    if (rc == 0) return 0;
    if (rc > 0) return EIO;
    return errno ? static_cast<uint32_t>(errno) : EIO;
}

// Only a block device that sits under an NVMe controller in sysfs sees the admin
// ioctl; other drivers could read its number as one of their own.
bool IsNvmeBlockDevice(int fd) {
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !S_ISBLK(st.st_mode)) return false;
    const std::string link = "/sys/dev/block/" + std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
    char target[4096];
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
    if (n <= 0) return false;
    return std::string(target, static_cast<size_t>(n)).find("/nvme/") != std::string::npos;
}

}  // namespace

bool LinuxPlatform::NvmeControl(OpenFile& f, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                                uint32_t* bytesReturned) {
    uint32_t error = 0;
    const NvmeRequest req = CheckNvmeQuery(in, inSize, out ? outSize : 0, &error);
    if (req.kind == NvmeQuery::None) {
        lastError_ = error;
        return false;
    }
    if (!f.blockDevice || !IsNvmeBlockDevice(f.fd)) {
        lastError_ = ENOTTY;
        return false;
    }
    alignas(8) uint8_t data[NvmeIdentifySize] = {};
    int rc = 0;
    errno = 0;
    switch (req.kind) {
    case NvmeQuery::IdentifyController:
        rc = nvme_identify_ctrl(f.fd, reinterpret_cast<nvme_id_ctrl*>(data));
        break;
    case NvmeQuery::IdentifyNamespace: {
        // Only the namespace this descriptor stands for.
        __u32 own = 0;
        rc = nvme_get_nsid(f.fd, &own);
        if (rc == 0 && req.nsid != 0 && req.nsid != own) {
            lastError_ = EINVAL;
            return false;
        }
        if (rc == 0) rc = nvme_identify_ns(f.fd, own, reinterpret_cast<nvme_id_ns*>(data));
        break;
    }
    case NvmeQuery::HealthLog:
        rc = nvme_get_log_smart(f.fd, NVME_NSID_ALL, true, reinterpret_cast<nvme_smart_log*>(data));
        break;
    case NvmeQuery::None:
        break;
    }
    if (rc != 0) {
        lastError_ = ErrorOf(rc);
        return false;
    }
    PutNvmeAnswerHead(in, out);
    std::memcpy(static_cast<uint8_t*>(out) + req.dataOffset, data, req.dataLength);
    if (bytesReturned) *bytesReturned = req.dataOffset + req.dataLength;
    lastError_ = 0;
    return true;
}

}  // namespace platform::linuxbe
