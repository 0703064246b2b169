// scandor-cli's surface command on the real machine: an image file, and a loop
// device over a FUSE file whose chosen ranges cannot be read.
#include <gtest/gtest.h>

#include "cli/cli_fixture.h"

using clitest::CliResult;
using clitest::RunCli;
using nlohmann::json;

namespace {

constexpr int64_t Mib = 1048576;

using RealCli = clitest::CliTest;

TEST_F(RealCli, ImageFileAndAMissingOne) {
    const std::string image = dir_ / "disk.img";
    devtest::MakeImage(image, 3 * Mib + 512);
    CliResult r = RunCli({"--json", "surface", image}, "");
    EXPECT_EQ(r.code, 0) << r.err;
    json j = Parse(r);
    EXPECT_EQ(j["device"]["path"], image);
    EXPECT_EQ(j["endSector"], 6145);
    EXPECT_EQ(j["stopSector"], 6272);
    EXPECT_EQ(j["errorCount"], 0);

    r = RunCli({"surface", dir_ / "missing.img"}, "");
    EXPECT_EQ(r.code, 3);
    EXPECT_NE(r.err.find("No such file or directory"), std::string::npos) << r.err;
}

TEST_F(RealCli, ALoopDeviceIsListedAndTestedByItsNumber) {
    REQUIRE_LOOP();
    const std::string image = dir_ / "listed.img";
    const int64_t size = 7 * Mib + 12288;  // a size no other loop device is likely to have
    devtest::MakeImage(image, size);
    devtest::LoopDevice loop(image, "-r");
    REQUIRE_ATTACHED(loop);

    CliResult r = RunCli({"list", "--json"}, "");
    ASSERT_EQ(r.code, 0) << r.err;
    const json all = Parse(r);
    json listed;
    for (const json& d : all["drives"])
        if (d["sizeBytes"] == size && d["caption"].get<std::string>().find(image) != std::string::npos) listed = d;
    ASSERT_FALSE(listed.is_null()) << r.out;
    EXPECT_EQ(listed["kind"], "physical");
    EXPECT_EQ(listed["path"], "\\\\.\\PhysicalDrive" + listed["argument"].get<std::string>());

    r = RunCli({"--json", "surface", listed["argument"].get<std::string>()}, "");
    EXPECT_EQ(r.code, 0) << r.err;
    json j = Parse(r);
    EXPECT_EQ(j["device"]["path"], listed["path"]);
    EXPECT_EQ(j["device"]["name"], listed["caption"]);
    EXPECT_EQ(j["endSector"], size / 512);
    EXPECT_EQ(j["errorCount"], 0);
}

TEST_F(RealCli, LoopDeviceWithUnreadableBlocks) {
    const std::string why = devtest::FuseUnavailable();
    if (!why.empty()) GTEST_SKIP() << why;
    const int64_t size = 8 * Mib;
    // Sector 2048, and eight sectors across the block boundary at 6144.
    devtest::BadFile disk(dir_ / "mnt", size, "1048576:512,3143680:4096");
    ASSERT_TRUE(disk.ok()) << "the FUSE helper did not come up";
    devtest::LoopDevice loop(disk.file(), "-r --direct-io=on");
    REQUIRE_ATTACHED(loop);

    CliResult r = RunCli({"--json", "surface", loop.node()}, "");
    EXPECT_EQ(r.code, 1) << r.err;
    json j = Parse(r);
    EXPECT_EQ(j["device"]["path"], loop.node());
    EXPECT_EQ(j["device"]["node"], loop.node());
    EXPECT_EQ(j["endSector"], 16384);
    EXPECT_EQ(j["stopSector"], 16384);
    EXPECT_EQ(j["errorSectors"], json::array({2048, 6016, 6144}));
    EXPECT_EQ(j["report"][14], "Sector Read Errors: 3");

    r = RunCli({"surface", loop.node()}, "");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "Sector Error @: 2048\nSector Error @: 6016\nSector Error @: 6144\nDevice node: " + loop.node() + "\n");
    // The report, then how the drive was read and one line per read-time class.
    ASSERT_EQ(r.Lines().size(), 19u + 8u);
    EXPECT_EQ(r.Lines()[15], ":(");
    EXPECT_EQ(r.Lines()[26], "Blocks failed: 3");
}

TEST_F(RealCli, LoopDeviceThatReadsNothingExitsThree) {
    const std::string why = devtest::FuseUnavailable();
    if (!why.empty()) GTEST_SKIP() << why;
    const int64_t size = 2 * Mib;
    devtest::BadFile disk(dir_ / "mnt", size, "0:" + std::to_string(size));
    ASSERT_TRUE(disk.ok()) << "the FUSE helper did not come up";
    devtest::LoopDevice loop(disk.file(), "-r --direct-io=on");
    REQUIRE_ATTACHED(loop);
    CliResult r = RunCli({"--json", "surface", loop.node()}, "");
    EXPECT_EQ(r.code, 3) << r.err;
    json j = Parse(r);
    EXPECT_EQ(j["errorCount"], 32);
    EXPECT_EQ(j["exitCode"], 3);
}

}  // namespace
