// scandor-cli smart on simulated NVMe drives: the report, the JSON document with
// its "nvme" object and NVMe rows, and the exit codes.
#include <gtest/gtest.h>

#include "cli/cli_fixture.h"

using clitest::CliResult;
using clitest::Disk;
using clitest::RunCli;
using nlohmann::json;

namespace {

using NvmeSmartCli = clitest::CliTest;

json NvmeDisk(const json& health) {
    json d = Disk(0, 64 * 1048576, "SCSI");
    d["nvme"] = {{"model", "SimNvme"}, {"serial", "NV42"}, {"firmware", "2.1"}, {"wctemp", 343},
                 {"cctemp", 358},      {"nsze", 131072},   {"health", health}};
    return d;
}

}  // namespace

TEST_F(NvmeSmartCli, HealthyDriveReportJsonAndExitZero) {
    const json health = {{"compositeTemperature", 308}, {"availableSpare", 100}, {"availableSpareThreshold", 10},
                         {"percentageUsed", 1}, {"dataUnitsRead", "340282366920938463463374607431768211455"},
                         {"dataUnitsWritten", 77}, {"hostReadCommands", 5}, {"hostWriteCommands", 6},
                         {"controllerBusyTime", 8}, {"powerCycles", 9}, {"powerOnHours", 10},
                         {"unsafeShutdowns", 11}, {"errorLogEntries", 13}, {"warningTemperatureTime", 14},
                         {"criticalTemperatureTime", 15}, {"temperatureSensors", {310, 0, 0, 305}}};
    const std::string m = Machine(json::array({NvmeDisk(health)}));
    CliResult r = RunCli({"smart", "0"}, m);
    EXPECT_EQ(r.code, 0) << r.err;
    const auto lines = r.Lines();
    ASSERT_GT(lines.size(), 20u) << r.out;
    EXPECT_EQ(lines[1], "NVMe Model: SimNvme, Serial: NV42, Size = 64.00 MBytes ");
    EXPECT_EQ(lines[10], "Temp 35\xC2\xB0" "C");
    EXPECT_EQ(lines[11], "Media Errors 0");
    EXPECT_EQ(lines[12], "SMART Test Passed");

    r = RunCli({"--json", "smart", "0"}, m);
    EXPECT_EQ(r.code, 0) << r.err;
    const json j = Parse(r);
    EXPECT_EQ(j["model"], "SimNvme");
    EXPECT_EQ(j["serial"], "NV42");
    EXPECT_EQ(j["firmware"], "2.1");
    EXPECT_EQ(j["temperature"], 35);
    EXPECT_FALSE(j.contains("reallocatedSectors"));
    EXPECT_EQ(j["failedCount"], 0);
    EXPECT_EQ(j["exitCode"], 0);
    const json& n = j["nvme"];
    EXPECT_EQ(n["criticalWarning"], 0);
    EXPECT_EQ(n["temperature"], 35);
    EXPECT_EQ(n["availableSpare"], 100);
    EXPECT_EQ(n["availableSpareThreshold"], 10);
    EXPECT_EQ(n["percentageUsed"], 1);
    EXPECT_EQ(n["enduranceGroupCriticalWarning"], 0);
    EXPECT_EQ(n["dataUnitsRead"].get<uint64_t>(), ~uint64_t{0}) << "saturates at 2^64-1";
    EXPECT_EQ(n["dataUnitsWritten"], 77);
    EXPECT_EQ(n["hostReadCommands"], 5);
    EXPECT_EQ(n["hostWriteCommands"], 6);
    EXPECT_EQ(n["controllerBusyTime"], 8);
    EXPECT_EQ(n["powerCycles"], 9);
    EXPECT_EQ(n["powerOnHours"], 10);
    EXPECT_EQ(n["unsafeShutdowns"], 11);
    EXPECT_EQ(n["mediaErrors"], 0);
    EXPECT_EQ(n["errorLogEntries"], 13);
    EXPECT_EQ(n["warningTemperatureTime"], 14);
    EXPECT_EQ(n["criticalTemperatureTime"], 15);
    EXPECT_EQ(n["temperatureSensors"], json({37, 32}));

    const json& a = j["attributes"];
    ASSERT_EQ(a.size(), 20u);
    for (const json& row : a) {
        EXPECT_TRUE(row["id"].is_null());
        EXPECT_TRUE(row["worst"].is_null());
        EXPECT_TRUE(row["offset"].is_number_integer());
    }
    EXPECT_EQ(a[1]["offset"], 1);
    EXPECT_EQ(a[1]["name"], "Composite Temperature");
    EXPECT_EQ(a[1]["current"], 35);
    EXPECT_EQ(a[1]["threshold"], 70);
    EXPECT_EQ(a[1]["raw"], 308);
    EXPECT_EQ(a[6]["offset"], 32);
    EXPECT_EQ(a[6]["raw"].get<uint64_t>(), ~uint64_t{0});
    EXPECT_EQ(a[6]["current"].get<uint64_t>(), ~uint64_t{0});
    EXPECT_EQ(a[6]["rawText"].get<std::string>().size(), 39u + 12u);  // 39 digits, 12 separators
    EXPECT_TRUE(a[6]["threshold"].is_null());
    EXPECT_EQ(a[6]["state"], "-");
    EXPECT_EQ(a[19]["offset"], 206);
    EXPECT_EQ(a[19]["name"], "Temperature Sensor 4");
    EXPECT_EQ(j["report"][11], "Media Errors 0");
}

TEST_F(NvmeSmartCli, CriticalWarningExitsOneAndWarningsAlone) {
    json failing = {{"criticalWarning", 2}, {"compositeTemperature", 330}, {"availableSpare", 100},
                    {"availableSpareThreshold", 10}};
    CliResult r = RunCli({"--json", "smart", "0"}, Machine(json::array({NvmeDisk(failing)})));
    EXPECT_EQ(r.code, 1) << r.err;
    json j = Parse(r);
    EXPECT_EQ(j["exitCode"], 1);
    EXPECT_EQ(j["failedCount"], 1);
    EXPECT_EQ(j["attributes"][0]["state"], "Failing Now");
    EXPECT_EQ(j["attributes"][0]["caption"], "Critical Warning: temperature");
    EXPECT_EQ(j["attributes"][0]["name"], "Critical Warning");

    // Warnings alone do not fail the verdict, as on ATA drives.
    json worn = {{"compositeTemperature", 345}, {"availableSpare", 30}, {"availableSpareThreshold", 10},
                 {"percentageUsed", 95}, {"mediaErrors", 2}};
    r = RunCli({"--json", "smart", "0"}, Machine(json::array({NvmeDisk(worn)})));
    EXPECT_EQ(r.code, 0) << r.err;
    j = Parse(r);
    EXPECT_EQ(j["warningCount"], 4);
    EXPECT_EQ(j["failedCount"], 0);

    // A log that cannot be read: no S.M.A.R.T. answer, exit 3.
    json broken = NvmeDisk(json::object());
    broken["nvme"]["fail"] = {{"healthLog", {{"error", 5}}}};
    r = RunCli({"smart", "0"}, Machine(json::array({broken})));
    EXPECT_EQ(r.code, 3);
}

TEST_F(NvmeSmartCli, ListSmartOffersTheNvmeDrive) {
    CliResult r = RunCli({"list", "--smart"}, Machine(json::array({NvmeDisk(json::object()), Disk(1, 1048576)})));
    EXPECT_EQ(r.code, 0) << r.err;
    const auto lines = r.Lines();
    ASSERT_EQ(lines.size(), 1u) << r.out;
    EXPECT_EQ(lines[0].substr(0, 2), "0\t");
}
