// scandor-cli's list and smart commands, run as a process on simulated machines.
#include <gtest/gtest.h>

#include "cli/cli_fixture.h"

using clitest::CliResult;
using clitest::Disk;
using clitest::RunCli;
using nlohmann::json;

namespace {

constexpr int64_t Mib = 1048576;

using ListCli = clitest::CliTest;

TEST_F(ListCli, OneLinePerDriveWithItsInterfaceType) {
    json unknown = {{"path", "\\\\.\\PhysicalDrive4"}, {"size", 2 * Mib}};  // no WMI object
    json emptyReader = Disk(5, 0);                                            // not listed
    const std::string m = Machine(json::array({Disk(0, 10 * Mib), Disk(2, 1024 * Mib, "USB"), Disk(3, 4 * Mib, "usb"),
                                               unknown, emptyReader, {{"path", "\\\\.\\A:"}, {"size", 1474560}}}),
                                  {{"volumes", {{"A:\\", {{"label", ""}, {"fileSystem", "FAT12"}}}}}});
    CliResult r = RunCli({"list"}, m);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(r.err.empty()) << r.err;
    EXPECT_EQ(r.Lines(), (std::vector<std::string>{
                             "A:\t\\\\.\\A:\tA:\\ 1.41 MBytes \t-",
                             "0\t\\\\.\\PhysicalDrive0\tSimDisk 0 10.00 MBytes \tIDE",
                             "2\t\\\\.\\PhysicalDrive2\tSimDisk 2 1.00 GBytes \tUSB",
                             "3\t\\\\.\\PhysicalDrive3\tSimDisk 3 4.00 MBytes \tusb",
                             "4\t\\\\.\\PhysicalDrive4\t 2.00 MBytes \t-",
                         }));

    r = RunCli({"list", "--json"}, m);
    EXPECT_EQ(r.code, 0);
    json j = Parse(r);
    EXPECT_EQ(j["command"], "list");
    EXPECT_EQ(j["test"], "surface");
    ASSERT_EQ(j["drives"].size(), 5u);
    const json& floppy = j["drives"][0];
    EXPECT_EQ(floppy["argument"], "A:");
    EXPECT_TRUE(floppy["number"].is_null());
    EXPECT_EQ(floppy["kind"], "floppy");
    EXPECT_EQ(floppy["sizeBytes"], 1474560);
    EXPECT_TRUE(floppy["interfaceType"].is_null());
    EXPECT_EQ(j["drives"][1]["number"], 0);
    EXPECT_EQ(j["drives"][1]["interfaceType"], "IDE");
    EXPECT_EQ(j["drives"][1]["usb"], false);
    // The window's USB picture: exactly "USB", case and all.
    EXPECT_EQ(j["drives"][2]["usb"], true);
    EXPECT_EQ(j["drives"][3]["usb"], false);
    EXPECT_EQ(j["drives"][3]["sizeBytes"], 4 * Mib);
    EXPECT_TRUE(j["drives"][4]["interfaceType"].is_null());
}

TEST_F(ListCli, ResumeEntriesAreNotDrives) {
    const std::string hive = dir_ / "HKLM.reg";
    std::ofstream(hive) << "Windows Registry Editor Version 5.00\r\n\r\n"
                           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\KAVENO_Scandor]\r\n"
                           "\"NoHDDs\"=dword:00000001\r\n"
                           "\"HDD1\"=\"SimDisk 0 10.00 MBytes \"\r\n\r\n"
                           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\KAVENO_Scandor\\nameofHdd]\r\n"
                           "\"actualSector\"=dword:00000800\r\n";
    const std::string m = Machine(json::array({Disk(0, 10 * Mib)}), {{"registry", hive}});
    CliResult r = RunCli({"list"}, m);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.Lines(), (std::vector<std::string>{"0\t\\\\.\\PhysicalDrive0\tSimDisk 0 10.00 MBytes \tIDE"}));
}

TEST_F(ListCli, NothingListedExitsThreeAndSaysWhy) {
    // Drives exist but none answers IDENTIFY: the S.M.A.R.T. list is empty.
    const std::string m = Machine(json::array({Disk(0, 10 * Mib)}));
    CliResult r = RunCli({"list", "--smart"}, m);
    EXPECT_EQ(r.code, 3);
    EXPECT_TRUE(r.out.empty());
    EXPECT_NE(r.err.find("You need admin rights for this operation!"), std::string::npos) << r.err;
    r = RunCli({"--json", "list", "--smart"}, m);
    EXPECT_EQ(r.code, 3);
    json j = Parse(r);
    EXPECT_EQ(j["test"], "smart");
    EXPECT_TRUE(j["drives"].empty());
    EXPECT_NE(j["error"].get<std::string>().find("admin rights"), std::string::npos);

    // Only A: and B: as drive letters: the fill stops before the physical drives.
    const std::string floppiesOnly = Machine(json::array({Disk(0, 10 * Mib)}), {{"logicalDrives", 3}});
    r = RunCli({"list"}, floppiesOnly);
    EXPECT_EQ(r.code, 3);
    EXPECT_NE(r.err.find("No hard drives found. Please check."), std::string::npos) << r.err;
}

}  // namespace
