#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/linux/devicemap.h"

namespace fs = std::filesystem;
using namespace platform::linuxbe;

namespace {

struct FakeSysBlock {
    fs::path root = fs::temp_directory_path() / ("sysblock-" + std::to_string(::getpid()));
    FakeSysBlock() { fs::create_directories(root); }
    ~FakeSysBlock() { fs::remove_all(root); }
    void Add(const std::string& name, bool backed = false) {
        fs::create_directories(root / name);
        if (backed) {
            fs::create_directories(root / name / "loop");
            std::ofstream(root / name / "loop" / "backing_file") << "/images/disk.img\n";
        }
    }
};

}  // namespace

TEST(DriveNumbering, WholeDisksComeInAStableKindAndNumberOrder) {
    FakeSysBlock sys;
    for (const char* n : {"sdb", "sdaa", "sda", "nvme0n1", "vda", "loop0", "zram0", "sr0", "fd0",
                          "mmcblk0", "dm-0", "md0", "ram0", "nvme1n1", "hda"})
        sys.Add(n);
    sys.Add("loop7", true);
    sys.Add("loop10", true);
    EXPECT_EQ(WholeDisks(sys.root.string()),
              (std::vector<std::string>{"sda", "sdb", "sdaa", "hda", "vda", "nvme0n1", "nvme1n1",
                                        "mmcblk0", "loop7", "loop10"}));
}

TEST(DriveNumbering, PathsMapToNodes) {
    FakeSysBlock sys;
    sys.Add("vda");
    sys.Add("loop3", true);
    const std::string s = sys.root.string();
    EXPECT_EQ(DeviceNodeForPath("\\\\.\\PhysicalDrive0", s), "/dev/vda");
    EXPECT_EQ(DeviceNodeForPath("\\\\.\\PHYSICALDRIVE1", s), "/dev/loop3");
    EXPECT_FALSE(DeviceNodeForPath("\\\\.\\PhysicalDrive2", s));
    EXPECT_FALSE(DeviceNodeForPath("\\\\.\\PhysicalDrive", s));
    EXPECT_FALSE(DeviceNodeForPath("\\\\.\\PhysicalDrive-1", s));
    EXPECT_FALSE(DeviceNodeForPath("\\\\.\\PhysicalDrive99999999999", s));
    EXPECT_EQ(DeviceNodeForPath("\\\\.\\A:", s), "/dev/fd0");
    EXPECT_EQ(DeviceNodeForPath("\\\\.\\b:", s), "/dev/fd1");
    EXPECT_FALSE(DeviceNodeForPath("\\\\.\\C:", s));
    EXPECT_EQ(DeviceNodeForPath("/srv/images/disk.img", s), "/srv/images/disk.img");
    EXPECT_FALSE(DeviceNodeForPath("relative/disk.img", s));
    EXPECT_FALSE(DeviceNodeForPath("", s));
}
