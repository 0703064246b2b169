// The Linux backend's NVMe protocol query on real descriptors: the allow-list is
// checked before anything else (a refused query fails with EINVAL even where an
// allowed one reaches the device check), and a device that is not an NVMe
// namespace gets no admin command at all.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "linux/devices.h"
#include "platform/linux/linux_platform.h"
#include "platform/nvmequery.h"

using namespace platform;

namespace {

std::vector<uint8_t> Query(uint32_t dataType, uint32_t value, uint32_t length) {
    return BuildNvmeQuery(dataType, value, 0, length);
}

uint32_t ErrorOf(linuxbe::LinuxPlatform& p, Handle h, std::vector<uint8_t> b) {
    uint32_t n = 0;
    if (p.DeviceIoControl(h, IOCTL_STORAGE_QUERY_PROPERTY, b.data(), static_cast<uint32_t>(b.size()), b.data(),
                          static_cast<uint32_t>(b.size()), &n))
        return 0;
    return p.GetLastError();
}

void ExpectAllowListFirst(linuxbe::LinuxPlatform& p, Handle h) {
    // Allowed: they get as far as the device, which is no NVMe namespace.
    EXPECT_EQ(ErrorOf(p, h, Query(NVMeDataTypeIdentify, NVME_IDENTIFY_CNS_CONTROLLER, 4096)), uint32_t{ENOTTY});
    EXPECT_EQ(ErrorOf(p, h, Query(NVMeDataTypeIdentify, NVME_IDENTIFY_CNS_SPECIFIC_NAMESPACE, 4096)), uint32_t{ENOTTY});
    EXPECT_EQ(ErrorOf(p, h, Query(NVMeDataTypeLogPage, NVME_LOG_PAGE_HEALTH_INFO, 512)), uint32_t{ENOTTY});
    // Refused before that.
    EXPECT_EQ(ErrorOf(p, h, Query(3, 0x02, 512)), uint32_t{EINVAL});              // Get Features
    EXPECT_EQ(ErrorOf(p, h, Query(NVMeDataTypeLogPage, 0x01, 512)), uint32_t{EINVAL});  // error log
    EXPECT_EQ(ErrorOf(p, h, Query(NVMeDataTypeIdentify, 0x02, 4096)), uint32_t{EINVAL});
    EXPECT_EQ(ErrorOf(p, h, Query(NVMeDataTypeLogPage, NVME_LOG_PAGE_HEALTH_INFO, 64)), uint32_t{EINVAL});
}

}  // namespace

TEST(LinuxNvmeQuery, AllowListComesBeforeTheDeviceOnALoopDeviceAndAFile) {
    devtest::TempDir dir;
    const std::string image = dir / "disk.img";
    devtest::MakeImage(image, 1 << 20);
    linuxbe::LinuxPlatform p(dir / "hive.reg");
    const Handle file = p.CreateFile(image, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0);
    ASSERT_NE(file, InvalidHandle);
    ExpectAllowListFirst(p, file);
    p.CloseHandle(file);

    REQUIRE_LOOP();
    devtest::LoopDevice loop(image, "-r");
    REQUIRE_ATTACHED(loop);
    const Handle h = p.CreateFile(loop.node(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0);
    ASSERT_NE(h, InvalidHandle);
    ExpectAllowListFirst(p, h);
    p.CloseHandle(h);
}
