// scandor-cli's usage, help and surface command, run as a process on simulated machines.
#include <gtest/gtest.h>

#include "cli/cli_fixture.h"

using clitest::CliProcess;
using clitest::CliResult;
using clitest::Disk;
using clitest::RunCli;
using nlohmann::json;

namespace {

constexpr int64_t Mib = 1048576;
// After the report: how the drive was read, then one line per read-time class.
constexpr size_t ReadTimeLines = 8;

using SurfaceCli = clitest::CliTest;

TEST_F(SurfaceCli, HelpNamesEveryCommandAndExitCode) {
    for (const char* flag : {"--help", "-h", "help"}) {
        CliResult r = RunCli({flag}, "");
        EXPECT_EQ(r.code, 0) << flag;
        for (const char* word : {"list [--smart]", "smart N", "surface N|PATH [--email | --email-on-problem]",
                                 "metrics [--textfile DIR]", "check [--email]", "--json", "Exit codes",
                                 "  2    usage error", "  3    the device could not be opened"})
            EXPECT_NE(r.out.find(word), std::string::npos) << flag << ": " << word;
    }
}

TEST_F(SurfaceCli, UsageErrorsExitTwoWithoutTouchingAnyDrive) {
    // A machine whose only drive cannot even be opened: a usage error must come first.
    const std::string m = Machine(json::array({{{"path", "\\\\.\\PhysicalDrive0"}, {"failOpen", 5}}}));
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"frobnicate"},
        {"surface"},
        {"surface", "0", "1"},
        {"smart"},
        {"smart", "x"},
        {"smart", "-1"},
        {"list", "extra"},
        {"list", "--verbose"},
        {"surface", "0", "--smart"},
        {"list", "--email"},
        {"smart", "0", "--email"},
    };
    for (const auto& args : cases) {
        CliResult r = RunCli(args, m);
        std::string shown;
        for (const auto& a : args) shown += a + " ";
        EXPECT_EQ(r.code, 2) << shown;
        EXPECT_TRUE(r.out.empty()) << shown;
        EXPECT_NE(r.err.find("Try 'scandor-cli --help'"), std::string::npos) << shown;
    }
    CliResult r = RunCli({"--json", "surface"}, m);
    EXPECT_EQ(r.code, 2);
    json j = Parse(r);
    EXPECT_EQ(j["exitCode"], 2);
    EXPECT_EQ(j["command"], "surface");
    EXPECT_FALSE(j["error"].get<std::string>().empty());
}

TEST_F(SurfaceCli, HealthyDrivePrintsTheNineteenLinesAndExitsZero) {
    const std::string m = Machine(json::array({Disk(0, 10 * Mib)}));
    CliResult r = RunCli({"surface", "0"}, m);
    EXPECT_EQ(r.code, 0) << r.err;
    // No progress line when stderr is no terminal; only the node that was read.
    EXPECT_EQ(r.err, "Device node: /dev/simdisk1\n");
    const std::vector<std::string> lines = r.Lines();
    ASSERT_EQ(lines.size(), 19u + ReadTimeLines) << r.out;
    EXPECT_EQ(lines[0], "Drive Test Report");
    EXPECT_EQ(lines[3], "Drives IOCTL Name: \\\\.\\PhysicalDrive0");
    EXPECT_EQ(lines[4], "Drives Real Name: SimDisk 0 10.00 MBytes ");
    EXPECT_EQ(lines[6], "Computer: BOX");
    EXPECT_EQ(lines[7], "User: ann");
    EXPECT_EQ(lines[8], "IP: 10.0.0.5");
    EXPECT_EQ(lines[10], "Start Sector: 0");
    EXPECT_EQ(lines[11], "End Sector: 20480");
    EXPECT_EQ(lines[12], "Test stops @ sector: 20480");
    EXPECT_EQ(lines[14], "Sector Read Errors: 0");
    EXPECT_EQ(lines[15], ":-)");

    // The same facts as JSON.
    r = RunCli({"surface", "--json", "0"}, m);
    EXPECT_EQ(r.code, 0);
    json j = Parse(r);
    EXPECT_EQ(j["command"], "surface");
    EXPECT_EQ(j["device"]["path"], "\\\\.\\PhysicalDrive0");
    EXPECT_EQ(j["device"]["kind"], "physical");
    EXPECT_EQ(j["device"]["number"], 0);
    EXPECT_EQ(j["startSector"], 0);
    EXPECT_EQ(j["endSector"], 20480);
    EXPECT_EQ(j["stopSector"], 20480);
    EXPECT_EQ(j["blocksRead"], 160);
    EXPECT_EQ(j["errorCount"], 0);
    EXPECT_TRUE(j["errorSectors"].empty());
    EXPECT_EQ(j["aborted"], false);
    EXPECT_EQ(j["exitCode"], 0);
    EXPECT_EQ(j["report"].size(), 19u);
    EXPECT_EQ(j["report"][12], "Test stops @ sector: 20480");
    EXPECT_FALSE(j.contains("email"));
}

TEST_F(SurfaceCli, UnreadableBlocksAreCountedOnceEachAndExitOne) {
    // Two bad sectors in one block, one in another, and a partition that starts at 1 MiB.
    json disk = Disk(2, 8 * Mib);
    disk["unreadable"] = json::array({{{"offset", 2048 * 512}, {"length", 512}},
                                      {{"offset", 2100 * 512}, {"length", 1024}},
                                      {{"offset", 5000 * 512}, {"length", 512}}});
    disk["partitionInfo"] = {{"startingOffset", Mib}, {"partitionLength", 6 * Mib + 100}};
    const std::string m = Machine(json::array({disk}));
    CliResult r = RunCli({"surface", "2"}, m);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "Sector Error @: 2048\nSector Error @: 4992\nDevice node: /dev/simdisk1\n");
    const std::vector<std::string> lines = r.Lines();
    ASSERT_EQ(lines.size(), 19u + ReadTimeLines);
    EXPECT_EQ(lines[4], "Drives Real Name: SimDisk 2 6.00 MBytes ");
    // The range as the drive list's double click gives it; reading still starts at 0.
    EXPECT_EQ(lines[10], "Start Sector: 2048");
    EXPECT_EQ(lines[11], "End Sector: 14336");
    EXPECT_EQ(lines[12], "Test stops @ sector: 14336");
    EXPECT_EQ(lines[14], "Sector Read Errors: 2");
    EXPECT_EQ(lines[15], ":(");

    r = RunCli({"--json", "surface", "\\\\.\\physicaldrive2"}, m);
    EXPECT_EQ(r.code, 1);
    json j = Parse(r);
    EXPECT_EQ(j["errorSectors"], json::array({2048, 4992}));
    EXPECT_EQ(j["errorCount"], 2);
    EXPECT_EQ(j["exitCode"], 1);
}

TEST_F(SurfaceCli, FloppyAndImageFileRanges) {
    const std::string m = Machine(json::array({{{"path", "\\\\.\\A:"}, {"size", 1474560}},
                                               {{"path", "/images/odd.img"}, {"size", 1000000}}}));
    for (const char* name : {"A:", "a:", "A:\\", "\\\\.\\A:"}) {
        CliResult r = RunCli({"surface", name}, m);
        EXPECT_EQ(r.code, 0) << name << r.err;
        const auto lines = r.Lines();
        ASSERT_EQ(lines.size(), 19u + ReadTimeLines) << name;
        EXPECT_EQ(lines[3], "Drives IOCTL Name: \\\\.\\A:");
        EXPECT_EQ(lines[4], "Drives Real Name: A:\\");
        EXPECT_EQ(lines[11], "End Sector: 2880");
        EXPECT_EQ(lines[12], "Test stops @ sector: 2944");
    }
    CliResult r = RunCli({"surface", "--json", "/images/odd.img"}, m);
    EXPECT_EQ(r.code, 0) << r.err;
    json j = Parse(r);
    EXPECT_EQ(j["device"]["kind"], "physical");
    EXPECT_TRUE(j["device"]["number"].is_null());
    EXPECT_EQ(j["device"]["name"], "/images/odd.img 976.56 KBytes ");
    // The last block is requested in full although the range ends inside it.
    EXPECT_EQ(j["endSector"], 1953);
    EXPECT_EQ(j["stopSector"], 2048);
}

TEST_F(SurfaceCli, DevicesThatCannotBeReadAtAllExitThree) {
    json dead = Disk(1, 4 * Mib);
    dead["unreadable"] = json::array({{{"offset", 0}, {"length", 4 * Mib}}});
    json empty = Disk(3, 0);
    const std::string m = Machine(json::array({{{"path", "\\\\.\\PhysicalDrive0"}, {"failOpen", 5}}, dead, empty}),
                                  {{"errors", {{"5", "Access is denied."}}}});
    struct Case { std::string target, err; };
    for (const Case& c : {Case{"0", "cannot open \\\\.\\PhysicalDrive0: Access is denied"},
                          Case{"7", "cannot open \\\\.\\PhysicalDrive7"},
                          Case{"/no/such.img", "cannot open /no/such.img"},
                          Case{"3", "There are no readable data"}}) {
        CliResult r = RunCli({"surface", c.target}, m);
        EXPECT_EQ(r.code, 3) << c.target;
        EXPECT_TRUE(r.out.empty()) << c.target << ": no report for a drive that was never read";
        EXPECT_NE(r.err.find(c.err), std::string::npos) << c.target << ": " << r.err;
        r = RunCli({"--json", "surface", c.target}, m);
        EXPECT_EQ(r.code, 3);
        json j = Parse(r);
        EXPECT_EQ(j["exitCode"], 3);
        EXPECT_NE(j["error"].get<std::string>().find(c.err), std::string::npos) << c.target;
    }
    // Every block failed: the report is written, and the drive counts as unreadable.
    CliResult r = RunCli({"--json", "surface", "1"}, m);
    EXPECT_EQ(r.code, 3);
    json j = Parse(r);
    EXPECT_EQ(j["errorCount"], 64);
    EXPECT_EQ(j["blocksRead"], 64);
    EXPECT_EQ(j["report"][14], "Sector Read Errors: 64");
}

TEST_F(SurfaceCli, CtrlCStopsAfterTheBlockAndStillReports) {
    // 1 TB takes the simulated reader minutes: only the signal can end the run early.
    const int64_t size = 1000LL * 1000 * Mib;
    const std::string m = Machine(json::array({Disk(0, size)}));
    CliProcess p({"surface", "0"}, m, /*ptyErr=*/true);
    if (p.noPty()) GTEST_SKIP() << "no pseudo-terminal for stderr";
    ASSERT_TRUE(p.started());
    // The progress line: percentage, sector, speed by the simulated clock (one
    // 64 KiB block per millisecond), remaining time once estimated.
    // The first estimates still carry the start-up ticks; wait until it has settled.
    const auto estimated = [](const std::string& e) {
        return e.find("62.50 MB/s  remaining 4 h 26 min") != std::string::npos;
    };
    ASSERT_TRUE(p.WaitForErr(estimated, 20000)) << "1/128 ms per sector";
    p.Signal(SIGINT);
    CliResult r = p.Finish(20000);
    EXPECT_EQ(r.code, 130) << r.err;
    EXPECT_EQ(r.err.rfind("\r0%  sector 0 of 2048000000  62.50 MB/s  remaining -", 0), 0u) << r.err.substr(0, 200);
    const auto lines = r.Lines();
    ASSERT_EQ(lines.size(), 19u + ReadTimeLines) << r.out;
    EXPECT_EQ(lines[11], "End Sector: 2048000000");
    ASSERT_EQ(lines[12].rfind("Test stops @ sector: ", 0), 0u);
    const int64_t stop = std::stoll(lines[12].substr(21));
    EXPECT_GT(stop, 0);
    EXPECT_LT(stop, 2048000000);
    EXPECT_EQ(stop % 128, 0);
    EXPECT_EQ(lines[15], ":-)");
}

TEST_F(SurfaceCli, CtrlCAfterAnErrorExitsOneWithTheErrorInTheJson) {
    json disk = Disk(0, 1000LL * 1000 * Mib);
    disk["unreadable"] = json::array({{{"offset", 128 * 512}, {"length", 512}}});
    const std::string m = Machine(json::array({disk}));
    CliProcess p({"--json", "surface", "0"}, m);
    ASSERT_TRUE(p.started());
    ASSERT_TRUE(p.WaitForErr([](const std::string& e) { return e.find("Sector Error @: 128\n") != std::string::npos; },
                             20000));
    p.Signal(SIGINT);
    CliResult r = p.Finish(20000);
    EXPECT_EQ(r.code, 1);
    json j = Parse(r);
    EXPECT_EQ(j["aborted"], true);
    EXPECT_EQ(j["errorSectors"], json::array({128}));
    EXPECT_LT(j["stopSector"].get<int64_t>(), j["endSector"].get<int64_t>());
    EXPECT_EQ(j["blocksRead"].get<int64_t>(), j["stopSector"].get<int64_t>() / 128 + 1);
    EXPECT_EQ(j["report"][12], "Test stops @ sector: " + std::to_string(j["stopSector"].get<int64_t>()));
}

// Slow blocks and read times: on the simulated device a read touching a slow
// range takes that much longer on the virtual clock.
TEST_F(SurfaceCli, ReadTimesAndSlowBlocksInTextAndJson) {
    json disk = Disk(0, 4 * Mib);
    disk["slow"] = json::array({{{"offset", 10 * 65536}, {"length", 1}, {"ms", 300}},
                                {{"offset", 20 * 65536}, {"length", 65536}, {"ms", 700}},
                                {{"offset", 30 * 65536}, {"length", 1}, {"ms", 60}}});
    disk["unreadable"] = json::array({{{"offset", 40 * 65536}, {"length", 1}}});
    const std::string m = Machine(json::array({disk}));
    CliResult r = RunCli({"surface", "--json", "0"}, m);
    EXPECT_EQ(r.code, 1) << r.err;
    json j = Parse(r);
    EXPECT_EQ(j["readMode"], "simulated, 32 reads in flight");
    const json& t = j["readTimes"];
    EXPECT_EQ(t["under5ms"], 60);
    EXPECT_EQ(t["under20ms"], 0);
    EXPECT_EQ(t["under50ms"], 0);
    EXPECT_EQ(t["under150ms"], 1);
    EXPECT_EQ(t["under500ms"], 1);
    EXPECT_EQ(t["atLeast500ms"], 1);
    EXPECT_EQ(t["failed"], 1);
    int64_t sum = 0;
    for (const auto& [key, n] : t.items()) sum += n.get<int64_t>();
    EXPECT_EQ(sum, j["blocksRead"].get<int64_t>());
    EXPECT_EQ(j["slowBlocks"], json::parse(R"([{"sector": 1280, "ms": 301}, {"sector": 2560, "ms": 701}])"));
    EXPECT_EQ(j["slowBlocksTruncated"], false);

    r = RunCli({"surface", "0", "--queue-depth", "1"}, m);
    const auto lines = r.Lines();
    ASSERT_EQ(lines.size(), 19u + ReadTimeLines + 2) << r.out;
    EXPECT_EQ(lines[19], "Reads: simulated, 1 read in flight");
    EXPECT_EQ(lines[20], "Blocks read in under 5 ms: 60");
    EXPECT_EQ(lines[23], "Blocks read in under 150 ms: 1");
    EXPECT_EQ(lines[25], "Blocks read in 500 ms or more: 1");
    EXPECT_EQ(lines[26], "Blocks failed: 1");
    EXPECT_EQ(lines[27], "Slow block @: 1280 301 ms");
    EXPECT_EQ(lines[28], "Slow block @: 2560 701 ms");
}

TEST_F(SurfaceCli, OnlyTheFirstTwentySlowBlocksArePrinted) {
    json disk = Disk(0, 2 * Mib);
    disk["slow"] = json::array({{{"offset", 0}, {"length", 25 * 65536}, {"ms", 200}}});
    CliResult r = RunCli({"surface", "0"}, Machine(json::array({disk})));
    const auto lines = r.Lines();
    ASSERT_EQ(lines.size(), 19u + ReadTimeLines + 21) << r.out;
    EXPECT_EQ(lines[27], "Slow block @: 0 201 ms");
    EXPECT_EQ(lines[46], "Slow block @: 2432 201 ms");
    EXPECT_EQ(lines[47], "Slow blocks not shown: 5");
}

TEST_F(SurfaceCli, QueueDepthMustBeANumberFromOneTo256) {
    const std::string m = Machine(json::array({Disk(0, Mib)}));
    for (std::vector<std::string> args : {std::vector<std::string>{"surface", "0", "--queue-depth", "0"},
                                          {"surface", "0", "--queue-depth", "257"},
                                          {"surface", "0", "--queue-depth", "-3"},
                                          {"surface", "0", "--queue-depth"},
                                          {"list", "--queue-depth", "4"}}) {
        CliResult r = RunCli(args, m);
        EXPECT_EQ(r.code, 2) << args.back();
    }
    EXPECT_EQ(RunCli({"surface", "--queue-depth", "256", "0"}, m).code, 0);
}

}  // namespace

// "surface 99999" once went to the relative file ./99999 while "smart 99999" said
// it is no drive number.
TEST_F(SurfaceCli, DigitsAloneAreAlwaysADriveNumber) {
    const std::string m = Machine(json::array({Disk(0, 4 * Mib)}));
    for (const char* target : {"99999", "0000012345"}) {
        CliResult r = RunCli({"surface", target}, m);
        EXPECT_EQ(r.code, 2) << target << ": " << r.err;
        EXPECT_NE(r.err.find(std::string("'") + target + "' is no drive number"), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty());
    }
}

// A drive cut away mid-scan once read as a short drive: exit 0 and ":-)".
TEST_F(SurfaceCli, ADriveThatVanishesMidScanStopsThereAndExitsOne) {
    json disk = Disk(0, 4 * Mib);
    disk["vanishAfterReads"] = 8;
    const std::string m = Machine(json::array({disk}));
    CliResult r = RunCli({"surface", "0"}, m);
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_NE(r.err.find("Drive vanished at sector 1024: No such device or address\n"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Sector Error"), std::string::npos) << "one line, not one per remaining block";
    const auto lines = r.Lines();
    ASSERT_EQ(lines.size(), 19u + ReadTimeLines) << r.out;
    EXPECT_EQ(lines[12], "Test stops @ sector: 1024");
    EXPECT_EQ(lines[14], "Sector Read Errors: 1");
    EXPECT_EQ(lines[15], ":(");
    r = RunCli({"--json", "surface", "0"}, m);
    EXPECT_EQ(r.code, 1);
    json j = Parse(r);
    EXPECT_EQ(j["stopSector"], 1024);
    EXPECT_EQ(j["errorCount"], 1);
    EXPECT_EQ(j["errorSectors"], json::array({1024}));
    EXPECT_EQ(j["blocksRead"], 9);
    EXPECT_EQ(j["vanished"], true);
    EXPECT_EQ(j["aborted"], false);
    EXPECT_EQ(j["exitCode"], 1);
}

// Drive 0 goes right after the probe: number 0 then leads to the next disk, which
// must not be read in its place.
TEST_F(SurfaceCli, TheRunReadsOnlyTheDiskItProbedAndNamesItsNode) {
    json first = Disk(0, 4 * Mib);
    first["node"] = "/dev/sdq";
    json second = Disk(1, 8 * Mib);
    CliResult r = RunCli({"--json", "surface", "0"}, Machine(json::array({first, second})));
    EXPECT_EQ(r.code, 0) << r.err;
    json j = Parse(r);
    EXPECT_EQ(j["device"]["node"], "/dev/sdq");
    EXPECT_NE(r.err.find("Device node: /dev/sdq\n"), std::string::npos) << r.err;
    r = RunCli({"surface", "1"}, Machine(json::array({first, second})));
    EXPECT_NE(r.err.find("Device node: /dev/simdisk2\n"), std::string::npos) << r.err;
    EXPECT_EQ(r.Lines().size(), 19u + ReadTimeLines) << "the node line stays out of the report";

    first["removeAfterOpens"] = 3;  // the probe's three opens
    const std::string moving = Machine(json::array({first, second}));
    r = RunCli({"surface", "0"}, moving);
    EXPECT_EQ(r.code, 3) << r.out << r.err;
    EXPECT_TRUE(r.out.empty()) << "no report of another disk";
    EXPECT_NE(r.err.find("\\\\.\\PhysicalDrive0 leads to another disk than the one probed"), std::string::npos)
        << r.err;
}

// A FIFO once held the open for good (even SIGTERM did not end it); a directory
// was scanned as a 4 KiB drive with a bad block.
TEST_F(SurfaceCli, TargetsThatAreNeitherDisksNorFilesAreRefusedByName) {
    const std::string fifo = dir_ / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    struct Case { std::string target, kind; };
    for (const Case& c : {Case{fifo, "a FIFO"}, Case{dir_.path(), "a directory"}, Case{"/dev/null", "a character device"}}) {
        for (bool asJson : {false, true}) {
            const std::vector<std::string> args =
                asJson ? std::vector<std::string>{"--json", "surface", c.target}
                       : std::vector<std::string>{"surface", c.target};
            CliProcess p(args, "");
            CliResult r = p.Finish(10000);
            EXPECT_EQ(r.code, 3) << c.target << ": " << r.err;
            EXPECT_NE(r.err.find(c.target + " is " + c.kind + ", not a block device or an image file"),
                      std::string::npos) << r.err;
            EXPECT_EQ(r.err.find("Sector Error"), std::string::npos);
            if (asJson) {
                EXPECT_EQ(Parse(r)["exitCode"], 3);
            }
        }
    }
}
