// The disk queries of the Linux backend against loop devices and image files with
// partition tables written by sfdisk, checked against what sfdisk and blockdev say.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <nlohmann/json.hpp>

#include "devices.h"
#include "drive/harddrive.h"
#include "drive/usersystem.h"
#include "platform/linux/linux_platform.h"

using namespace platform;
using devtest::Shell;
using nlohmann::json;

namespace {

const int64_t Mib = 1 << 20;

bool WriteTable(const std::string& target, const std::string& script) {
    return Shell("printf '" + script + "' | sfdisk --no-reread --no-tell-kernel -q '" + target + "'") == 0;
}

json SfdiskJson(const std::string& target) {
    std::string out;
    if (Shell("sfdisk --json '" + target + "'", &out) != 0) return {};
    return json::parse(out, nullptr, false)["partitiontable"];
}

int64_t Blockdev(const std::string& option, const std::string& node) {
    std::string out;
    if (Shell("blockdev " + option + " " + node, &out) != 0) return -1;
    return std::stoll(out);
}

uint32_t TrailingNumber(const std::string& node) {
    size_t i = node.size();
    while (i > 0 && std::isdigit(static_cast<unsigned char>(node[i - 1]))) --i;
    return static_cast<uint32_t>(std::stoul(node.substr(i)));
}

// The layout must list what sfdisk lists, in the same order.
void ExpectLayoutLikeSfdisk(const THardDrive& d, const json& table) {
    ASSERT_TRUE(table.is_object());
    ASSERT_TRUE(d.LayoutValid);
    const json& parts = table["partitions"];
    ASSERT_EQ(d.Layout.PartitionCount, parts.size());
    for (size_t i = 0; i < parts.size(); ++i) {
        const PARTITION_INFORMATION& e = d.Layout.PartitionEntry[i];
        SCOPED_TRACE("entry " + std::to_string(i));
        EXPECT_EQ(e.StartingOffset, parts[i]["start"].get<int64_t>() * 512);
        // libblkid gives an extended partition's table size; sfdisk its own view
        if (parts[i].value("type", "") != "5") {
            EXPECT_EQ(e.PartitionLength, parts[i]["size"].get<int64_t>() * 512);
        }
        EXPECT_EQ(e.PartitionNumber, TrailingNumber(parts[i]["node"].get<std::string>()));
        EXPECT_EQ(e.HiddenSectors, parts[i]["start"].get<uint32_t>());
        if (table["label"] == "dos") {
            EXPECT_EQ(e.PartitionType, std::stoul(parts[i]["type"].get<std::string>(), nullptr, 16));
            EXPECT_EQ(e.BootIndicator, parts[i].value("bootable", false) ? 1 : 0);
        }
    }
    for (int i = static_cast<int>(parts.size()); i < LayoutEntries; ++i) {
        EXPECT_EQ(d.Layout.PartitionEntry[i].StartingOffset, 0);
        EXPECT_EQ(d.Layout.PartitionEntry[i].PartitionLength, 0);
    }
}

const char* MbrScript =
    "label: dos\\nlabel-id: 0x1234abcd\\n"
    "start=2048, size=8192, type=83, bootable\\n"
    "start=10240, size=8192, type=7\\n"
    "start=18432, size=40960, type=5\\n"
    "start=20480, size=4096, type=83\\n"
    "start=26624, size=4096, type=82\\n";

// Entry 1 lies behind entry 2 on the disk: the layout keeps the table's order.
const char* GptScript =
    "label: gpt\\n"
    "start=34816, size=4096, name=second\\n"
    "start=2048, size=8192, name=first\\n"
    "start=40960, size=2048, name=third\\n";

}  // namespace

class DiskQueries : public ::testing::Test {
protected:
    void SetUp() override {
        if (!devtest::HaveTool("sfdisk")) GTEST_SKIP() << "sfdisk is not installed";
        ASSERT_FALSE(dir_.path().empty());
    }
    devtest::TempDir dir_;
    linuxbe::LinuxPlatform platform_;
};

TEST_F(DiskQueries, MbrLoopDeviceMatchesSfdiskAndBlockdev) {
    REQUIRE_LOOP();
    const std::string image = dir_ / "mbr.img";
    devtest::MakeImage(image, 64 * Mib);
    ASSERT_TRUE(WriteTable(image, MbrScript));
    devtest::LoopDevice loop(image, "-r");
    REQUIRE_ATTACHED(loop);

    THardDrive d(platform_, loop.node());
    const int64_t size = Blockdev("--getsize64", loop.node());
    ASSERT_TRUE(d.PartitionInfoValid);
    EXPECT_EQ(d.PartitionInfo.StartingOffset, 0);
    EXPECT_EQ(d.PartitionInfo.PartitionLength, size);
    ASSERT_TRUE(d.GeometryValid);
    // loop devices refuse HDIO_GETGEO: the conventional geometry stands in
    EXPECT_EQ(d.Geometry.TracksPerCylinder, 255u);
    EXPECT_EQ(d.Geometry.SectorsPerTrack, 63u);
    EXPECT_EQ(d.Geometry.BytesPerSector, static_cast<uint32_t>(Blockdev("--getss", loop.node())));
    EXPECT_EQ(d.Geometry.Cylinders, size / (255 * 63 * 512));
    EXPECT_EQ(d.Geometry.MediaType, FixedMedia);
    EXPECT_EQ(d.TotalBytes, size);
    EXPECT_EQ(d.TotalSectors, Blockdev("--getsz", loop.node()));

    json table = SfdiskJson(loop.node());
    ExpectLayoutLikeSfdisk(d, table);
    EXPECT_EQ(d.Layout.Signature, std::stoul(table["id"].get<std::string>(), nullptr, 16));
    EXPECT_EQ(d.Layout.Signature, 0x1234abcdu);
    EXPECT_EQ(d.Layout.PartitionCount, 5u);
}

TEST_F(DiskQueries, GptEntriesComeInTableOrder) {
    REQUIRE_LOOP();
    const std::string image = dir_ / "gpt.img";
    devtest::MakeImage(image, 32 * Mib);
    ASSERT_TRUE(WriteTable(image, GptScript));
    devtest::LoopDevice loop(image, "-r");
    REQUIRE_ATTACHED(loop);

    THardDrive d(platform_, loop.node());
    ExpectLayoutLikeSfdisk(d, SfdiskJson(loop.node()));
    EXPECT_EQ(d.Layout.PartitionEntry[0].StartingOffset, 34816 * 512);
    EXPECT_EQ(d.Layout.PartitionEntry[1].StartingOffset, 2048 * 512);
    EXPECT_EQ(d.TotalBytes, 32 * Mib);
}

// An image file opened as a drive answers the same records as the loop device
// over it.
TEST_F(DiskQueries, ImageFileAnswersLikeItsLoopDevice) {
    const std::string image = dir_ / "mbr.img";
    devtest::MakeImage(image, 64 * Mib);
    ASSERT_TRUE(WriteTable(image, MbrScript));
    THardDrive file(platform_, image);
    ExpectLayoutLikeSfdisk(file, SfdiskJson(image));
    EXPECT_EQ(file.TotalBytes, 64 * Mib);
    EXPECT_EQ(file.Geometry.Cylinders, 64 * Mib / (255 * 63 * 512));

    std::string why = devtest::LoopUnavailable();
    if (!why.empty()) GTEST_SKIP() << "compared with sfdisk only; " << why;
    devtest::LoopDevice loop(image, "-r");
    REQUIRE_ATTACHED(loop);
    THardDrive dev(platform_, loop.node());
    EXPECT_EQ(std::memcmp(&file.PartitionInfo, &dev.PartitionInfo, sizeof file.PartitionInfo), 0);
    EXPECT_EQ(std::memcmp(&file.Geometry, &dev.Geometry, sizeof file.Geometry), 0);
    EXPECT_EQ(std::memcmp(&file.Layout, &dev.Layout, sizeof file.Layout), 0);
}

TEST_F(DiskQueries, LayoutOfMoreThan101EntriesFails) {
    for (int n : {101, 102}) {
        SCOPED_TRACE(n);
        const std::string image = dir_ / ("many" + std::to_string(n) + ".img");
        devtest::MakeImage(image, (n + 2) * Mib);
        std::string script = "label: gpt\\n";
        for (int i = 0; i < n; ++i) script += "size=2048\\n";
        ASSERT_TRUE(WriteTable(image, script));
        ASSERT_EQ(SfdiskJson(image)["partitions"].size(), static_cast<size_t>(n));
        THardDrive d(platform_, image);
        EXPECT_TRUE(d.GeometryValid);
        EXPECT_TRUE(d.PartitionInfoValid);
        if (n == 101) {
            ASSERT_TRUE(d.LayoutValid);
            EXPECT_EQ(d.Layout.PartitionCount, 101u);
            EXPECT_EQ(d.Layout.PartitionEntry[100].PartitionNumber, 101u);
        } else {
            EXPECT_FALSE(d.LayoutValid);
            const auto* b = reinterpret_cast<const uint8_t*>(&d.Layout);
            EXPECT_EQ(std::count(b, b + sizeof d.Layout, 0), static_cast<long>(sizeof d.Layout));
        }
    }
}

TEST_F(DiskQueries, OutputBuffersTooSmallFail) {
    const std::string image = dir_ / "mbr.img";
    devtest::MakeImage(image, 64 * Mib);
    ASSERT_TRUE(WriteTable(image, MbrScript));
    Handle h = platform_.CreateFile(image, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
    ASSERT_NE(h, InvalidHandle);
    uint8_t buf[sizeof(DRIVE_LAYOUT_INFORMATION)] = {};
    uint32_t got = 0;
    EXPECT_FALSE(platform_.DeviceIoControl(h, IOCTL_DISK_GET_PARTITION_INFO, nullptr, 0, buf, 31, &got));
    EXPECT_FALSE(platform_.DeviceIoControl(h, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, buf, 23, &got));
    // five entries need 8 + 5 * 32 bytes
    EXPECT_FALSE(platform_.DeviceIoControl(h, IOCTL_DISK_GET_DRIVE_LAYOUT, nullptr, 0, buf, 8 + 4 * 32, &got));
    EXPECT_NE(platform_.GetLastError(), 0u);
    ASSERT_TRUE(platform_.DeviceIoControl(h, IOCTL_DISK_GET_DRIVE_LAYOUT, nullptr, 0, buf, 8 + 5 * 32, &got));
    EXPECT_EQ(got, 8u + 5 * 32);
    platform_.CloseHandle(h);
}

// Every open of a drive path is read-only, whatever access the caller asks for.
TEST_F(DiskQueries, NoOpenCanWrite) {
    const std::string image = dir_ / "rw.img";
    devtest::MakeImage(image, 4 * Mib);
    devtest::WriteAt(image, 0, devtest::Pattern(4096, 3));
    std::vector<std::string> targets = {image};
    std::unique_ptr<devtest::LoopDevice> loop;
    if (devtest::LoopUnavailable().empty()) {
        loop = std::make_unique<devtest::LoopDevice>(image);  // a writable loop device
        REQUIRE_ATTACHED(*loop);
        targets.push_back(loop->node());
    }
    for (const auto& t : targets) {
        SCOPED_TRACE(t);
        Handle h = platform_.CreateFile(t, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        OPEN_EXISTING, 0);
        ASSERT_NE(h, InvalidHandle);
        int fd = platform_.DescriptorOf(h);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(::fcntl(fd, F_GETFL) & O_ACCMODE, O_RDONLY);
        std::vector<uint8_t> zeros(4096, 0);
        void* aligned = std::aligned_alloc(4096, 4096);
        std::memset(aligned, 0, 4096);
        EXPECT_LT(::pwrite(fd, aligned, 4096, 0), 0);
        EXPECT_EQ(errno, EBADF);
        std::free(aligned);
        // the queries open the device again; none of them may write either
        uint8_t layout[sizeof(DRIVE_LAYOUT_INFORMATION)];
        uint32_t got = 0;
        platform_.DeviceIoControl(h, IOCTL_DISK_GET_DRIVE_LAYOUT, nullptr, 0, layout, sizeof layout, &got);
        platform_.CloseHandle(h);
        EXPECT_EQ(platform_.CreateFile(t, GENERIC_WRITE, 0, CREATE_NEW, 0), InvalidHandle);
    }
    std::ifstream in(image, std::ios::binary);
    std::vector<uint8_t> now(4096);
    in.read(reinterpret_cast<char*>(now.data()), 4096);
    EXPECT_EQ(now, devtest::Pattern(4096, 3));
}

TEST_F(DiskQueries, VolumeIsReadableWhenItHoldsAFileSystem) {
    REQUIRE_TOOL("mkfs.ext2");
    const std::string fsImage = dir_ / "fs.img", blank = dir_ / "blank.img";
    devtest::MakeImage(fsImage, 8 * Mib);
    devtest::MakeImage(blank, 8 * Mib);
    ASSERT_EQ(Shell("mkfs.ext2 -q -F -L SCANDOR '" + fsImage + "'"), 0);
    std::string label, type;
    ASSERT_TRUE(platform_.GetVolumeInformation(fsImage, &label, &type));
    EXPECT_EQ(label, "SCANDOR");
    EXPECT_EQ(type, "ext2");
    EXPECT_FALSE(platform_.GetVolumeInformation(blank, &label, &type));
    TUserSystem us(platform_);
    EXPECT_TRUE(us.IsVolumeReadable("C:\\"));
    EXPECT_FALSE(us.IsVolumeReadable("Q:\\"));
    // the floppy letters exist exactly when their drives do
    const uint32_t mask = platform_.GetLogicalDrives();
    EXPECT_EQ((mask & 1u) != 0, ::access("/dev/fd0", F_OK) == 0);
    EXPECT_EQ((mask & 2u) != 0, ::access("/dev/fd1", F_OK) == 0);
    EXPECT_NE(mask & 4u, 0u);
    if (!(mask & 1u)) {
        EXPECT_FALSE(us.IsVolumeReadable("A:\\"));
    }
    if (devtest::LoopUnavailable().empty()) {
        devtest::LoopDevice withFs(fsImage, "-r"), without(blank, "-r");
        REQUIRE_ATTACHED(withFs);
        REQUIRE_ATTACHED(without);
        EXPECT_TRUE(platform_.GetVolumeInformation(withFs.node(), &label, &type));
        EXPECT_FALSE(platform_.GetVolumeInformation(without.node(), &label, &type));
    }
}
