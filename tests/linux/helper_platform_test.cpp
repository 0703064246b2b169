// The program reading a drive through scandor-helper: the helper opens it, the scan
// reads the passed descriptor here, device controls go to the helper, and the
// identity checks run on the descriptor that reads.
#include <fcntl.h>

#include <algorithm>
#include <cstring>
#include <fstream>

#include "devices.h"
#include "drive/driveidentity.h"
#include "drive/pinneddrive.h"
#include "platform/helper/client.h"
#include "platform/linux/devicemap.h"
#include "platform/linux/linux_platform.h"
#include "surface/surfacerun.h"

using namespace platform;

namespace {

std::unique_ptr<helper::HelperPlatform> ThroughHelper(const std::string& hive) {
    return std::make_unique<helper::HelperPlatform>(std::make_unique<linuxbe::LinuxPlatform>(hive),
                                                    [] { return helper::SpawnHelper({SCANDOR_HELPER}); });
}

// Access modes of the descriptors this process holds on a node.
std::vector<int> OwnFlagsOn(const std::string& node) {
    std::vector<int> flags;
    for (const auto& e : devtest::fs::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        if (devtest::fs::read_symlink(e.path(), ec) != node) continue;
        std::ifstream info("/proc/self/fdinfo/" + e.path().filename().string());
        for (std::string key; info >> key;)
            if (key == "flags:") {
                std::string octal;
                info >> octal;
                flags.push_back(static_cast<int>(std::stol(octal, nullptr, 8)));
                break;
            }
    }
    return flags;
}

std::string DrivePathOf(const std::string& node) {
    const auto disks = linuxbe::WholeDisks();
    const auto at = std::find(disks.begin(), disks.end(), node.substr(5));
    return at == disks.end() ? std::string() : "\\\\.\\PhysicalDrive" + std::to_string(at - disks.begin());
}

}  // namespace

TEST(HelperPlatform, ScansThePassedDescriptorAndFindsEveryBadBlock) {
    const std::string why = devtest::FuseUnavailable();
    if (!why.empty()) GTEST_SKIP() << why;
    devtest::TempDir dir;
    const int64_t size = 8 << 20;
    devtest::BadFile disk(dir / "mnt", size, "1048576:512,3143680:4096");
    ASSERT_TRUE(disk.ok()) << "the FUSE helper did not come up";
    devtest::LoopDevice loop(disk.file(), "-r --direct-io=on");
    REQUIRE_ATTACHED(loop);
    const std::string drive = DrivePathOf(loop.node());
    ASSERT_FALSE(drive.empty());

    auto p = ThroughHelper(dir / "hive.reg");
    ASSERT_EQ(p->ObtainDriveAccess(), "");
    std::vector<int64_t> failed;
    std::vector<int> flags;
    std::string mode;
    SurfaceRunCallbacks cb;
    cb.blockFailed = [&](int64_t, int64_t sector) { failed.push_back(sector); };
    cb.blockTimed = [&](int64_t, ReadClass, uint32_t) {
        if (flags.empty()) flags = OwnFlagsOn(loop.node());
    };
    cb.readMode = [&](const std::string& how) { mode = how; };
    TSurfaceRun run(*p, std::move(cb));
    const SurfaceRunResult r = run.Run(drive, "loop", size / 512);
    EXPECT_EQ(failed, (std::vector<int64_t>{2048, 6016, 6144}));
    EXPECT_EQ(r.ErrorCount, 3);
    EXPECT_NE(mode.find("reads in flight"), std::string::npos) << mode;
    ASSERT_FALSE(flags.empty()) << "the scan read no descriptor of its own";
    for (int f : flags) {
        EXPECT_EQ(f & O_ACCMODE, O_RDONLY);
        EXPECT_TRUE(f & O_DIRECT);
    }
}

TEST(HelperPlatform, ControlsGoToTheHelperAndTheIdentityIsTheReadingDescriptors) {
    REQUIRE_LOOP();
    devtest::TempDir dir;
    devtest::MakeImage(dir / "disk.img", 4 << 20);
    const auto pattern = devtest::Pattern(65536, 3);
    devtest::WriteAt(dir / "disk.img", 1 << 20, pattern);
    devtest::LoopDevice loop(dir / "disk.img");
    REQUIRE_ATTACHED(loop);
    const std::string drive = DrivePathOf(loop.node());
    ASSERT_FALSE(drive.empty());

    linuxbe::LinuxPlatform direct(dir / "hive.reg");
    auto p = ThroughHelper(dir / "hive.reg");
    const Handle h = p->CreateFile(drive, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING, 0);
    ASSERT_NE(h, InvalidHandle) << p->SystemErrorText(p->GetLastError());
    const Handle d = direct.CreateFile(drive, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0);
    ASSERT_NE(d, InvalidHandle);
    for (int f : OwnFlagsOn(loop.node())) EXPECT_EQ(f & O_ACCMODE, O_RDONLY);

    DISK_GEOMETRY viaHelper{}, own{};
    uint32_t n1 = 0, n2 = 0;
    ASSERT_TRUE(p->DeviceIoControl(h, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &viaHelper, sizeof viaHelper, &n1));
    ASSERT_TRUE(direct.DeviceIoControl(d, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &own, sizeof own, &n2));
    EXPECT_EQ(n1, n2);
    EXPECT_EQ(viaHelper.Cylinders, own.Cylinders);
    EXPECT_EQ(viaHelper.BytesPerSector, own.BytesPerSector);
    // A control the helper does not forward fails here too, with its error.
    uint8_t out[64] = {};
    EXPECT_FALSE(p->DeviceIoControl(h, 0x0007C010, nullptr, 0, out, sizeof out, &n1));
    EXPECT_EQ(p->GetLastError(), uint32_t{EPERM});

    const DriveIdentity id = QueryDriveIdentity(*p, h);
    const DriveIdentity expected = QueryDriveIdentity(direct, d);
    EXPECT_TRUE(id.SameDisk(expected));
    EXPECT_EQ(id.node, loop.node());

    int32_t high = 0;
    ASSERT_NE(p->SetFilePointer(h, 1 << 20, &high, FILE_BEGIN), INVALID_SET_FILE_POINTER);
    void* buffer = nullptr;
    ASSERT_EQ(::posix_memalign(&buffer, 4096, 65536), 0);
    uint32_t got = 0;
    EXPECT_TRUE(p->ReadFile(h, buffer, 65536, &got));
    EXPECT_EQ(got, 65536u);
    EXPECT_EQ(std::memcmp(buffer, pattern.data(), 65536), 0);
    std::free(buffer);
    EXPECT_TRUE(p->CloseHandle(h));
    direct.CloseHandle(d);

    // The pinned-drive check holds through the helper: another disk is refused.
    DriveIdentity other = expected;
    other.diskSequence += 1000;
    PinnedDrivePlatform wrong(*p, drive, other);
    EXPECT_EQ(wrong.CreateFile(drive, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0), InvalidHandle);
    EXPECT_TRUE(wrong.WrongDisk());
    PinnedDrivePlatform right(*p, drive, expected);
    const Handle again = right.CreateFile(drive, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0);
    EXPECT_NE(again, InvalidHandle);
    if (again != InvalidHandle) right.CloseHandle(again);
    EXPECT_TRUE(OwnFlagsOn(loop.node()).empty()) << "every descriptor is closed with its handle";
}
