#include <gtest/gtest.h>

#include <cstring>
#include <nlohmann/json.hpp>

#include "drive/harddrive.h"
#include "support/sim.h"

using namespace platform;
using nlohmann::json;

namespace {

const std::string Disk = "\\\\.\\PhysicalDrive0";

std::unique_ptr<sim::SimPlatform> OneDrive(const json& drive) {
    json d = drive;
    d["path"] = Disk;
    return testsupport::Machine(json{{"drives", json::array({d})}}.dump());
}

bool AllZero(const void* p, size_t n) {
    auto* b = static_cast<const uint8_t*>(p);
    for (size_t i = 0; i < n; ++i)
        if (b[i]) return false;
    return true;
}

}  // namespace

TEST(HardDrive, UnopenableDeviceGivesFalseFlagsAndZeroSizes) {
    auto m = OneDrive({{"size", 1 << 20}, {"failOpen", 13}});
    THardDrive d(*m, Disk);
    EXPECT_EQ(d.DevicePath, Disk);
    EXPECT_FALSE(d.PartitionInfoValid);
    EXPECT_FALSE(d.GeometryValid);
    EXPECT_FALSE(d.LayoutValid);
    EXPECT_EQ(d.TotalBytes, 0);
    EXPECT_EQ(d.TotalSectors, 0);
    EXPECT_TRUE(AllZero(&d.Layout, sizeof d.Layout));
    // Missing device: same answer.
    THardDrive missing(*m, "\\\\.\\PhysicalDrive7");
    EXPECT_FALSE(missing.GeometryValid);
    EXPECT_EQ(missing.TotalBytes, 0);
}

TEST(HardDrive, EachQueryOpensReadOnlyAndClosesInOrder) {
    auto m = OneDrive({{"size", 1 << 20}});
    THardDrive d(*m, Disk);
    ASSERT_EQ(m->Opens().size(), 3u);
    for (const auto& o : m->Opens()) {
        EXPECT_EQ(o.path, Disk);
        EXPECT_EQ(o.access, GENERIC_READ);
        EXPECT_EQ(o.share, FILE_SHARE_READ | FILE_SHARE_WRITE);
        EXPECT_EQ(o.creation, OPEN_EXISTING);
    }
    // Each open first asks which disk it reached.
    ASSERT_EQ(m->Controls().size(), 6u);
    EXPECT_EQ(m->Controls()[0].code, IOCTL_STORAGE_GET_DRIVE_IDENTITY);
    EXPECT_EQ(m->Controls()[1].code, IOCTL_DISK_GET_PARTITION_INFO);
    EXPECT_EQ(m->Controls()[2].code, IOCTL_STORAGE_GET_DRIVE_IDENTITY);
    EXPECT_EQ(m->Controls()[3].code, IOCTL_DISK_GET_DRIVE_GEOMETRY);
    EXPECT_EQ(m->Controls()[4].code, IOCTL_STORAGE_GET_DRIVE_IDENTITY);
    EXPECT_EQ(m->Controls()[5].code, IOCTL_DISK_GET_DRIVE_LAYOUT);
    EXPECT_EQ(m->OpenHandleCount(), 0u);
}

// Drive numbers move when a disk goes; a probe whose opens reached two disks
// describes neither and is not valid.
TEST(HardDrive, AProbeThatReachesTwoDisksIsInvalid) {
    auto m = testsupport::Machine(R"({"drives": [
        {"path": "\\\\.\\PhysicalDrive0", "size": 1048576, "removeAfterOpens": 1},
        {"path": "\\\\.\\PhysicalDrive1", "size": 2097152}]})");
    THardDrive d(*m, Disk);
    EXPECT_FALSE(d.PartitionInfoValid);
    EXPECT_FALSE(d.GeometryValid);
    EXPECT_FALSE(d.LayoutValid);
    EXPECT_FALSE(d.Identity.known);
    EXPECT_EQ(d.TotalBytes, 0);
    THardDrive now(*m, Disk);  // the renumbered machine, probed whole
    EXPECT_TRUE(now.GeometryValid);
    EXPECT_EQ(now.TotalBytes, 2097152);
    EXPECT_EQ(now.Identity.diskSequence, 2u);
}

// The size derivation: which answer wins, and the literal 512 as divisor.
TEST(HardDrive, SizeComesFromPartitionLengthWhenItCoversASector) {
    json geo = {{"cylinders", 10}, {"tracksPerCylinder", 4}, {"sectorsPerTrack", 8},
                {"bytesPerSector", 4096}};
    {   // geometry only: product, times the geometry's sector size
        auto m = OneDrive({{"size", 1 << 20}, {"partitionInfo", false}, {"geometry", geo}});
        THardDrive d(*m, Disk);
        EXPECT_FALSE(d.PartitionInfoValid);
        EXPECT_TRUE(d.GeometryValid);
        EXPECT_EQ(d.TotalSectors, 320);
        EXPECT_EQ(d.TotalBytes, 320 * 4096);
    }
    {   // PartitionLength 511 does not cover a sector: the geometry stands
        auto m = OneDrive({{"size", 511}, {"geometry", geo}});
        THardDrive d(*m, Disk);
        EXPECT_TRUE(d.PartitionInfoValid);
        EXPECT_EQ(d.PartitionInfo.PartitionLength, 511);
        EXPECT_EQ(d.TotalSectors, 320);
        EXPECT_EQ(d.TotalBytes, 320 * 4096);
    }
    for (bool geometryValid : {true, false}) {
        json drive = {{"size", 1048576}};
        drive["geometry"] = geometryValid ? geo : json(false);
        auto m = OneDrive(drive);
        THardDrive d(*m, Disk);
        EXPECT_EQ(d.GeometryValid != 0, geometryValid);
        EXPECT_EQ(d.TotalSectors, 2048) << geometryValid;  // 512, not the geometry's 4096
        EXPECT_EQ(d.TotalBytes, 1048576) << geometryValid;
    }
    {   // no geometry and a length under one sector: nothing
        auto m = OneDrive({{"size", 100}, {"geometry", false}});
        THardDrive d(*m, Disk);
        EXPECT_TRUE(d.PartitionInfoValid);
        EXPECT_EQ(d.TotalSectors, 0);
        EXPECT_EQ(d.TotalBytes, 0);
    }
    {   // a geometry product beyond 32 bits is computed in 64 bits
        json big = {{"cylinders", 243201}, {"tracksPerCylinder", 255}, {"sectorsPerTrack", 63},
                    {"bytesPerSector", 512}};
        auto m = OneDrive({{"size", 0}, {"partitionInfo", false}, {"geometry", big}});
        THardDrive d(*m, Disk);
        EXPECT_EQ(d.TotalSectors, int64_t{243201} * 255 * 63);
        EXPECT_EQ(d.TotalBytes, int64_t{243201} * 255 * 63 * 512);
    }
    {   // the partition length truncates to whole sectors but TotalBytes keeps it
        auto m = OneDrive({{"size", 1048576 + 100}});
        THardDrive d(*m, Disk);
        EXPECT_EQ(d.TotalSectors, 2048);
        EXPECT_EQ(d.TotalBytes, 1048676);
    }
}

TEST(HardDrive, LayoutKeepsTheDriverEntriesAndZeroesTheRest) {
    json parts = json::array();
    for (int i = 0; i < 4; ++i)
        parts.push_back({{"startingOffset", (i + 1) * 1048576}, {"partitionLength", 1048576},
                         {"partitionType", 0x83}});
    auto m = OneDrive({{"size", 8 << 20}, {"layout", {{"signature", 0xA1B2C3D4u}, {"partitions", parts}}}});
    THardDrive d(*m, Disk);
    ASSERT_TRUE(d.LayoutValid);
    EXPECT_EQ(d.Layout.PartitionCount, 4u);
    EXPECT_EQ(d.Layout.Signature, 0xA1B2C3D4u);
    EXPECT_EQ(d.Layout.PartitionEntry[3].StartingOffset, 4 * 1048576);
    EXPECT_EQ(d.Layout.PartitionEntry[3].PartitionType, 0x83);
    EXPECT_TRUE(AllZero(&d.Layout.PartitionEntry[4], sizeof(PARTITION_INFORMATION) * 97));
}

TEST(HardDrive, LayoutBeyond101EntriesFailsAndStaysZero) {
    for (int n : {101, 102}) {
        json parts = json::array();
        for (int i = 0; i < n; ++i) parts.push_back({{"startingOffset", i * 512}, {"partitionLength", 512}});
        auto m = OneDrive({{"size", 1 << 20}, {"layout", {{"signature", 7}, {"partitions", parts}}}});
        THardDrive d(*m, Disk);
        if (n == 101) {
            EXPECT_TRUE(d.LayoutValid);
            EXPECT_EQ(d.Layout.PartitionCount, 101u);
            EXPECT_EQ(d.Layout.PartitionEntry[100].StartingOffset, 100 * 512);
        } else {
            EXPECT_FALSE(d.LayoutValid);
            EXPECT_TRUE(AllZero(&d.Layout, sizeof d.Layout));
            // the other queries are unaffected
            EXPECT_TRUE(d.GeometryValid);
            EXPECT_EQ(d.TotalBytes, 1 << 20);
        }
    }
}

TEST(HardDrive, FloppyAnswersForItsVolume) {
    auto m = testsupport::Machine(R"({"drives": [{"path": "\\\\.\\A:", "size": 1474560}]})");
    THardDrive d(*m, "\\\\.\\A:");
    ASSERT_TRUE(d.GeometryValid);
    EXPECT_EQ(int64_t{d.Geometry.Cylinders}, 80);  // a copy: the packed field may be misaligned
    EXPECT_EQ(d.Geometry.TracksPerCylinder, 2u);
    EXPECT_EQ(d.Geometry.SectorsPerTrack, 18u);
    EXPECT_EQ(d.Geometry.MediaType, F3_1Pt44_512);
    EXPECT_EQ(d.TotalSectors, 2880);
    EXPECT_EQ(d.TotalBytes, 1474560);
}
