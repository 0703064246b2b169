#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <stdexcept>
#include <string>

#include "platform/platform.h"
#include "support/sim.h"

using namespace platform;

// The records cross the seam byte for byte; a field out of place corrupts every
// answer silently, so the offsets are checked, not only the sizes.
TEST(PlatformRecords, FieldOffsetsMatchTheWindowsLayout) {
    EXPECT_EQ(offsetof(PARTITION_INFORMATION, PartitionLength), 8u);
    EXPECT_EQ(offsetof(PARTITION_INFORMATION, HiddenSectors), 16u);
    EXPECT_EQ(offsetof(PARTITION_INFORMATION, PartitionType), 24u);
    EXPECT_EQ(offsetof(PARTITION_INFORMATION, RewritePartition), 27u);
    EXPECT_EQ(offsetof(DISK_GEOMETRY, MediaType), 8u);
    EXPECT_EQ(offsetof(DISK_GEOMETRY, BytesPerSector), 20u);
    EXPECT_EQ(offsetof(DRIVE_LAYOUT_INFORMATION, PartitionEntry), 8u);
    EXPECT_EQ(offsetof(SENDCMDINPARAMS, irDriveRegs), 4u);
    EXPECT_EQ(offsetof(SENDCMDINPARAMS, bDriveNumber), 12u);
    EXPECT_EQ(offsetof(SENDCMDINPARAMS, bBuffer), 32u);
    EXPECT_EQ(offsetof(GETVERSIONOUTPARAMS, bIDEDeviceMap), 3u);
    EXPECT_EQ(offsetof(SENDCMDOUTPARAMS_HEAD, DriverStatus), 4u);
    EXPECT_EQ(offsetof(SCSI_PASS_THROUGH, DataTransferLength), 12u);
    EXPECT_EQ(offsetof(SCSI_PASS_THROUGH, DataBufferOffset), 20u);
    EXPECT_EQ(offsetof(SCSI_PASS_THROUGH, SenseInfoOffset), 24u);
    EXPECT_EQ(offsetof(SCSI_PASS_THROUGH, Cdb), 28u);
    EXPECT_EQ(offsetof(SCSI_PASS_THROUGH_BLOCK, Sense), 44u);
    EXPECT_EQ(offsetof(SCSI_PASS_THROUGH_BLOCK, Data), 76u);
}

TEST(SimulatedMachine, RejectsManifestsItCannotUse) {
    EXPECT_THROW(testsupport::Machine("{ not json"), std::runtime_error);
    EXPECT_THROW(testsupport::Machine("[1, 2]"), std::runtime_error);
    EXPECT_THROW(testsupport::Machine(R"({"drives": [{"size": 10}]})"), std::runtime_error);
    EXPECT_THROW(sim::SimPlatform::FromManifestFile("/nonexistent/machine.json"), std::runtime_error);
    // A FIFO or a directory under the name is refused at once, not waited on.
#ifndef _WIN32
    const std::string fifo = testing::TempDir() + "scandor-manifest-fifo";
    ::unlink(fifo.c_str());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_THROW(sim::SimPlatform::FromManifestFile(fifo), std::runtime_error);
    ::unlink(fifo.c_str());
#endif
    EXPECT_THROW(sim::SimPlatform::FromManifestFile(testing::TempDir()), std::runtime_error);
    // Sizes, sectors and codes are whole numbers; a fraction, or a number no integer
    // type can hold, is refused when the manifest loads, not misread later.
    for (const char* manifest : {R"({"drives": [{"path": "\\\\.\\PhysicalDrive0", "size": 4.1e90}]})",
                                 R"({"drives": [{"path": "\\\\.\\PhysicalDrive0", "size": 512.5}]})",
                                 R"({"clock": {"start": 1e20}})",
                                 R"({"drives": [{"path": "\\\\.\\PhysicalDrive0",
                                     "ide": {"positions": {"0": {"identify": {"sectors": -3e9}}}}}]})"})
        EXPECT_THROW(testsupport::Machine(manifest), std::runtime_error) << manifest;
    // WMI properties hold reals.
    auto wmi = testsupport::Machine(R"({"drives": [{"path": "\\\\.\\PhysicalDrive0", "wmi": {"Ratio": 1.5e300}}]})");
    EXPECT_EQ(wmi->WmiExecQuery("root\\CIMV2", "SELECT Ratio FROM Win32_DiskDrive").objects.size(), 1u);
}

// A deeply nested manifest used to overflow the stack while it was copied.
TEST(SimulatedMachine, RefusesManifestsNestedTooDeep) {
    const auto nested = [](int depth) {
        return R"({"drives": [], "x": )" + std::string(static_cast<size_t>(depth), '[') +
               std::string(static_cast<size_t>(depth), ']') + "}";
    };
    try {
        testsupport::Machine(nested(100000));
        ADD_FAILURE() << "a manifest nested 100000 levels deep was taken";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "machine manifest: nested deeper than 64 levels");
    }
    // The limit counts the top-level object: 63 more levels are still fine.
    EXPECT_NO_THROW(testsupport::Machine(nested(sim::SimPlatform::MaxManifestDepth - 1)));
    EXPECT_THROW(testsupport::Machine(nested(sim::SimPlatform::MaxManifestDepth)), std::runtime_error);
}

TEST(SimulatedMachine, AnswersHostFactsFromTheManifest) {
    auto m = testsupport::Machine(R"({
        // comments are allowed in manifests
        "computerName": "WORKSTATION7", "userName": "alice",
        "hostName": "ws7", "hostAddresses": ["192.0.2.7", "198.51.100.1"],
        "clock": {"start": 4000}
    })");
    std::string s;
    ASSERT_TRUE(m->GetComputerName(s));
    EXPECT_EQ(s, "WORKSTATION7");
    ASSERT_TRUE(m->GetUserName(s));
    EXPECT_EQ(s, "alice");
    ASSERT_TRUE(m->GetHostName(s));
    EXPECT_EQ(s, "ws7");
    auto addrs = m->ResolveIpv4("ws7");
    ASSERT_TRUE(addrs.has_value());
    EXPECT_EQ(addrs->front(), "192.0.2.7");
    EXPECT_FALSE(m->ResolveIpv4("elsewhere").has_value());
    EXPECT_EQ(m->GetTickCount(), 4000u);
    m->AdvanceClock(250);
    EXPECT_EQ(m->GetTickCount(), 4250u);
    EXPECT_EQ(m->PlatformId(), VER_PLATFORM_WIN32_NT);
}

TEST(SimulatedMachine, LogicalDrivesFollowTheDrivesUnlessGiven) {
    auto plain = testsupport::Machine(R"({"drives": [{"path": "\\\\.\\A:"}]})");
    EXPECT_EQ(plain->GetLogicalDrives(), 0b101u);
    auto given = testsupport::Machine(R"({"logicalDrives": 3})");
    EXPECT_EQ(given->GetLogicalDrives(), 3u);
}

TEST(SimulatedMachine, MissingFactsFailLikeTheSystemCalls) {
    auto m = testsupport::Machine("{}");
    std::string s;
    EXPECT_FALSE(m->GetComputerName(s));
    EXPECT_FALSE(m->GetUserName(s));
    EXPECT_FALSE(m->GetVolumeInformation("A:\\", nullptr, nullptr));
    EXPECT_TRUE(m->SpecialFolderPath(CSIDL_STARTUP).empty());
    EXPECT_EQ(m->GetRegistry().OpenKey("SOFTWARE\\KAVENO_Scandor", true), nullptr);
}
