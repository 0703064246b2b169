// scandor-cli's smart command, run as a process on simulated machines.
#include <gtest/gtest.h>

#include "cli/cli_fixture.h"

using clitest::CliResult;
using clitest::Disk;
using clitest::RunCli;
using nlohmann::json;

namespace {

constexpr int64_t Mib = 1048576;

using SmartCli = clitest::CliTest;

json Attribute(int id, int flags, int current, int worst, int threshold, int64_t raw) {
    return {{"id", id}, {"flags", flags}, {"current", current}, {"worst", worst}, {"threshold", threshold}, {"raw", raw}};
}

// A drive that answers IDENTIFY and both SMART reads with the attributes given.
json SmartDisk(int n, const json& attributes) {
    json d = Disk(n, 64 * Mib);
    d["ide"] = {{"positions",
                 {{"0",
                   {{"identify", {{"model", "SimModel"}, {"serial", "SER123"}, {"firmware", "FW1"},
                                  {"sectors", 131072}, {"word47", 32784}}},
                    {"attributes", attributes}}}}}};
    return d;
}

TEST_F(SmartCli, HealthyDrivePrintsTheReportAndExitsZero) {
    json disk = SmartDisk(0, json::array({Attribute(5, 51, 100, 100, 36, 7), Attribute(9, 50, 90, 90, 0, 1234567),
                                          Attribute(194, 34, 35, 50, 0, 35)}));
    // The range of the double click: the partition, not the IDENTIFY capacity.
    disk["partitionInfo"] = {{"startingOffset", 0}, {"partitionLength", 2 * Mib}};
    const std::string m = Machine(json::array({disk}));
    CliResult r = RunCli({"smart", "0"}, m);
    EXPECT_EQ(r.code, 0) << r.err;
    const auto lines = r.Lines();
    ASSERT_GT(lines.size(), 20u) << r.out;
    EXPECT_EQ(lines[0], "Drive Test Report");
    EXPECT_EQ(lines[1], "IDE Model: SimModel, Serial: SER123, Size = 2.00 MBytes ");
    EXPECT_EQ(lines[4], "Computer: BOX");
    EXPECT_EQ(lines[8], "** SMART Values **");
    EXPECT_EQ(lines[10], "Temp 35\xC2\xB0" "C");
    EXPECT_EQ(lines[11], "Realloc Sec 7");
    EXPECT_EQ(lines[12], "SMART Test Passed");
    EXPECT_NE(r.out.find("\t1,234,567\n"), std::string::npos) << r.out;

    r = RunCli({"--json", "smart", "0"}, m);
    EXPECT_EQ(r.code, 0);
    json j = Parse(r);
    EXPECT_EQ(j["command"], "smart");
    EXPECT_EQ(j["drive"], 0);
    EXPECT_EQ(j["endSector"], 4096);
    EXPECT_EQ(j["model"], "SimModel");
    EXPECT_EQ(j["temperature"], 35);
    EXPECT_EQ(j["reallocatedSectors"], 7);
    EXPECT_EQ(j["failedCount"], 0);
    ASSERT_EQ(j["attributes"].size(), 3u);
    EXPECT_EQ(j["attributes"][0]["id"], 5);
    EXPECT_EQ(j["attributes"][0]["state"], "OK");
    EXPECT_EQ(j["attributes"][0]["preFailure"], true);
    EXPECT_EQ(j["attributes"][1]["raw"], 1234567);
    EXPECT_EQ(j["attributes"][1]["rawText"], "1,234,567");
    EXPECT_EQ(j["report"].get<std::vector<std::string>>(), lines);
}

TEST_F(SmartCli, AFailingOrFailedAttributeExitsOne) {
    const std::string m = Machine(json::array({
        SmartDisk(0, json::array({Attribute(5, 51, 30, 30, 36, 900)})),    // at its threshold now
        SmartDisk(1, json::array({Attribute(5, 51, 100, 20, 36, 0)})),     // was below it once
        SmartDisk(2, json::array({Attribute(5, 51, 60, 60, 36, 0)})),      // a warning only
    }));
    struct Case { const char* drive; int code; const char* state; };
    for (const Case& c : {Case{"0", 1, "Failing Now"}, Case{"1", 1, "Failed In Past"}, Case{"2", 0, "Warning"}}) {
        CliResult r = RunCli({"--json", "smart", c.drive}, m);
        EXPECT_EQ(r.code, c.code) << c.drive << r.err;
        json j = Parse(r);
        EXPECT_EQ(j["exitCode"], c.code);
        EXPECT_EQ(j["attributes"][0]["state"], c.state) << c.drive;
    }
    CliResult r = RunCli({"smart", "0"}, m);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("SMART Test Failed, Bad Attributes 1"), std::string::npos) << r.out;
}

TEST_F(SmartCli, NoAnswerExitsThree) {
    json noSmart = Disk(0, 64 * Mib);  // no pass-through at all
    const std::string m = Machine(json::array({noSmart, {{"path", "\\\\.\\PhysicalDrive1"}, {"failOpen", 2}}}));
    CliResult r = RunCli({"smart", "0"}, m);
    EXPECT_EQ(r.code, 3);
    EXPECT_TRUE(r.out.empty());
    EXPECT_NE(r.err.find("(NO S.M.A.R.T. support)"), std::string::npos) << r.err;
    r = RunCli({"--json", "smart", "0"}, m);
    EXPECT_EQ(r.code, 3);
    EXPECT_NE(Parse(r)["error"].get<std::string>().find("(NO S.M.A.R.T. support)"), std::string::npos);
    for (const char* drive : {"1", "9"}) {
        r = RunCli({"smart", drive}, m);
        EXPECT_EQ(r.code, 3) << drive;
        EXPECT_NE(r.err.find("cannot open"), std::string::npos) << r.err;
    }
}

TEST_F(SmartCli, EightBitDriveTextsAreCodePageTextInTheJson) {
    // 0xFC and 0xE9 are "ü" and "é" in Windows-1252, stray bytes as UTF-8.
    json scsi = Disk(0, 64 * Mib);
    scsi["scsi"] = {{"hex", "008000045a31fce9"}};
    const std::string m = Machine(json::array({scsi}));
    CliResult r = RunCli({"--json", "smart", "0"}, m);
    EXPECT_EQ(r.code, 3) << r.err;
    EXPECT_EQ(Parse(r)["error"], "SCSI Serial: Z1üé (NO S.M.A.R.T. support)");
    r = RunCli({"smart", "0"}, m);
    EXPECT_NE(r.err.find("SCSI Serial: Z1üé "), std::string::npos) << r.err;
}

}  // namespace
