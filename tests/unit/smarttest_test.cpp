// One S.M.A.R.T. test run on simulated drives: the identification line of every
// way the run can end, the rows it shows and the report made of them.
#include <gtest/gtest.h>

#include "drive/harddrive.h"
#include "smart/smarttest.h"
#include "support/sim.h"

namespace {

std::unique_ptr<platform::sim::SimPlatform> Drive(const std::string& sections) {
    return testsupport::Machine(R"({"errors": {"5": "Access is denied.", "25": "Inappropriate ioctl for device"},
        "drives": [{"path": "\\\\.\\PhysicalDrive0", )" + sections + "}]}");
}

// IDENTIFY says 2097152 sectors (1 GByte); the runs below choose another range.
std::string Position0(const std::string& attributes, const std::string& extra = "") {
    return R"("ide": {"positions": {"0": {"identify": {"model": "WDC WD800", "serial": "WX123", "firmware": "1.0",
        "sectors": 2097152}, "attributes": )" + attributes + extra + "}}}";
}

SmartTestOutcome RunOn(platform::Platform& m) { return RunSmartTest(m, 0, 0, 2048, ","); }

}  // namespace

TEST(SmartTestRun, DriveWithoutAtaFallsBackToTheScsiSerial) {
    auto m = Drive(R"("scsi": {"text": "  Z1X2Y3  "})");
    SmartTestOutcome o = RunOn(*m);
    EXPECT_EQ(o.resInfo, "SCSI Serial: Z1X2Y3 (NO S.M.A.R.T. support)");
    EXPECT_FALSE(o.tableShown);
    EXPECT_TRUE(o.attributes.empty());

    // Neither answers: the SCSI layer's text is shown, not the identify one.
    auto none = Drive(R"("size": 1048576)");
    o = RunOn(*none);
    EXPECT_EQ(o.resInfo, "SCSI_IOCTL Command Failed: Inappropriate ioctl for device (NO S.M.A.R.T. support)");
    EXPECT_FALSE(o.tableShown);

    auto noSerial = Drive(R"("scsi": {"page": 131, "text": "X"})");
    EXPECT_EQ(RunOn(*noSerial).resInfo, "No SCSI Drive Serial Number Returned (NO S.M.A.R.T. support)");
}

TEST(SmartTestRun, IdentifiedDriveWithoutAttributesSaysSoAfterItsIdentification) {
    // The size is the chosen range (2048 sectors), not the IDENTIFY capacity.
    auto m = Drive(Position0("[]"));
    SmartTestOutcome o = RunOn(*m);
    EXPECT_EQ(o.resInfo, "IDE Model: WDC WD800, Serial: WX123, Size = 1.00 MBytes  No SMART Attributes Returned - ");
    EXPECT_FALSE(o.tableShown);
    EXPECT_TRUE(o.attributes.empty());

    // A failed SMART ENABLE still lets the reads run; its text is what is appended.
    auto enable = Drive(Position0("[]", R"(, "fail": {"enable": {"error": 5, "driverError": 1, "ideError": 4}})"));
    EXPECT_EQ(RunOn(*enable).resInfo,
              "IDE Model: WDC WD800, Serial: WX123, Size = 1.00 MBytes  No SMART Attributes Returned - "
              "SMART Enable Command Failed, Drive: 0 : Access is denied");
}

TEST(SmartTestRun, FailedSmartReadReplacesTheIdentificationWithItsText) {
    auto m = Drive(Position0(R"([{"id": 5, "flags": 51, "current": 100, "worst": 100, "threshold": 36}])",
                             R"(, "fail": {"readThresholds": {"error": 5, "driverError": 2, "ideError": 4}})"));
    SmartTestOutcome o = RunOn(*m);
    EXPECT_EQ(o.resInfo,
              "SMART Read Threshold Command Failed, Drive: 0 : Access is denied; DriverStatus: Invalid command flag; "
              "bIDEStatus=0004");
    EXPECT_FALSE(o.tableShown);
    EXPECT_TRUE(o.attributes.empty());
}

TEST(SmartTestRun, RowsCarryCaptionsValuesAndBarSettings) {
    auto m = Drive(Position0(R"([
        {"id": 1, "flags": 11, "current": 100, "worst": 100, "threshold": 6, "raw": 1234567},
        {"id": 3, "flags": 3, "current": 101, "worst": 99, "threshold": 21},
        {"id": 14, "flags": 0, "current": 200, "worst": 200, "threshold": 0, "raw": 999},
        {"id": 7, "flags": 15, "current": 201, "worst": 201, "threshold": 30, "raw": 6442450944},
        {"id": 190, "flags": 34, "current": 62, "worst": 55, "threshold": 45, "raw": 38},
        {"id": 194, "flags": 34, "current": 38, "worst": 45, "raw": 193274839078},
        {"id": 5, "flags": 51, "current": 20, "worst": 20, "threshold": 36, "raw": 12}])"));
    SmartTestOutcome o = RunSmartTest(*m, 0, 63, 2048 + 63, ",");
    EXPECT_EQ(o.resInfo, "IDE Model: WDC WD800, Serial: WX123, Size = 1.00 MBytes ");
    ASSERT_TRUE(o.tableShown);
    EXPECT_EQ(o.summary[0], "Temp 38\u00B0C");
    EXPECT_EQ(o.summary[1], "Realloc Sec 12");
    EXPECT_EQ(o.summary[2], "SMART Test Failed, Bad Attributes 1");
    ASSERT_EQ(o.attributes.size(), 7u);

    struct Want { const char* caption; const char* state; int max; const char* raw; bool temp; };
    const Want want[] = {
        {"Read Error Rate", "OK", 100, "1,234,567", false},
        {"Spin Up Time", "OK", 200, "0", false},
        {"14", "-", 200, "999", false},                            // "Unknown" shows the ID
        {"Seek Error Rate", "OK", 255, "-2,147,483,648", false},   // low 32 bits 0x80000000
        {"Airflow Temperatur", "-", 100, "38", true},
        {"Temperature Celcius", "-", 100, "1,310,758", true},  // 0x2D_0014_0026: bytes 0 and 2 in one number
        {"Reallocated Sector Count", "Failing Now", 100, "12", false},
    };
    for (size_t i = 0; i < 7; ++i) {
        SCOPED_TRACE(i);
        const SmartRow& r = o.attributes[i];
        EXPECT_EQ(r.caption, want[i].caption);
        EXPECT_EQ(r.state, want[i].state);
        EXPECT_EQ(r.barMaximum, want[i].max);
        EXPECT_EQ(r.barPosition, o.result.CurrentValue[i]);
        EXPECT_EQ(r.current, std::to_string(o.result.CurrentValue[i]));
        EXPECT_EQ(r.raw, want[i].raw);
        EXPECT_EQ(r.temperature, want[i].temp);
    }
    EXPECT_EQ(o.attributes[2].id, 14);
    EXPECT_EQ(o.attributes[1].worst, "99");
    EXPECT_EQ(o.attributes[6].threshold, "36");

    // The user's separator, whatever it is.
    EXPECT_EQ(RunSmartTest(*m, 0, 0, 1, ".").attributes[0].raw, "1.234.567");
}

TEST(SmartTestRun, BarMaximaStepAtOneAndTwoHundred) {
    EXPECT_EQ(SmartBarMaximum(0), 100);
    EXPECT_EQ(SmartBarMaximum(100), 100);
    EXPECT_EQ(SmartBarMaximum(101), 200);
    EXPECT_EQ(SmartBarMaximum(200), 200);
    EXPECT_EQ(SmartBarMaximum(201), 255);
    EXPECT_EQ(SmartBarMaximum(255), 255);
}

TEST(SmartTestRun, DriveWithoutTemperatureAndReallocationStillHasBothSummaryRows) {
    auto m = Drive(Position0(R"([{"id": 9, "flags": 50, "current": 99, "worst": 99, "raw": 6000}])"));
    SmartTestOutcome o = RunOn(*m);
    ASSERT_TRUE(o.tableShown);
    EXPECT_EQ(o.summary[0], "Temp 0\u00B0C");
    EXPECT_EQ(o.summary[1], "Realloc Sec 0");
    EXPECT_EQ(o.summary[2], "SMART Test Passed");
    ASSERT_EQ(o.attributes.size(), 1u);
    EXPECT_EQ(o.attributes[0].raw, "6,000");
}

TEST(SmartTestReport, ListsSummaryThenAttributesInTheirColumnOrder) {
    auto m = Drive(Position0(R"([{"id": 5, "flags": 51, "current": 100, "worst": 99, "threshold": 36, "raw": 1234567},
                                 {"id": 14, "flags": 0, "current": 253, "worst": 252, "threshold": 0}])"));
    SmartTestOutcome o = RunOn(*m);
    ASSERT_TRUE(o.tableShown);
    auto lines = SmartTestReport(o, "08.12.2026 17:00:00", "PC1", "anna", "10.0.0.7", "http://www.kaveno.de");
    const std::vector<std::string> want = {
        "Drive Test Report",
        "IDE Model: WDC WD800, Serial: WX123, Size = 1.00 MBytes ",
        "08.12.2026 17:00:00",
        "-----------------",
        "Computer: PC1",
        "User: anna",
        "IP: 10.0.0.7",
        "------------------",
        "** SMART Values **",
        "------------------",
        "Temp 0\u00B0C",
        "Realloc Sec 1234567",
        "SMART Test Passed",
        "------------------",
        "",
        "Name\tState\tCurrent\tWorst\tThreshold\tRaw Value\t",
        "",
        std::string(76, '_'),
        "Reallocated Sector Count \tWarning\t100\t99\t36\t1,234,567",
        "14 \t-\t253\t252\t0\t0",
        "",
        "This report was generate with \"KAVENO Scandor\"",
        "http://www.kaveno.de",
    };
    EXPECT_EQ(lines, want);

    // A run that showed no table has nothing to report.
    auto scsi = Drive(R"("scsi": {"text": "S"})");
    EXPECT_TRUE(SmartTestReport(RunOn(*scsi), "d", "c", "u", "i", "w").empty());
}

namespace {

// An IDENTIFY block as hex with raw 8-bit text fields (ATA byte order: each word swapped).
std::string IdentifyHex(const std::string& model, const std::string& serial) {
    std::string block(512, '\0');
    auto put = [&](size_t offset, size_t length, const std::string& text) {
        for (size_t i = 0; i < length; ++i) block[offset + (i ^ 1)] = i < text.size() ? text[i] : ' ';
    };
    put(20, 20, serial);
    put(46, 8, "1.0");
    put(54, 40, model);
    block[120] = 0x00;
    block[122] = 0x20;  // 2097152 sectors
    static const char* digits = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : block) hex += {digits[c >> 4], digits[c & 15]};
    return hex;
}

}  // namespace

TEST(SmartTestRun, DriveTextsAreEightBitCodePageText) {
    // 0xE9 is "é", 0x80 "€", 0xDF "ß" in Windows-1252; as UTF-8 they are stray bytes.
    auto ata = Drive(R"("ide": {"positions": {"0": {"identify": {"hex": ")" + IdentifyHex("Caf\xE9 \x80 DISK", "S\xDF" "1") +
                     R"("}, "attributes": [{"id": 5, "flags": 51, "current": 100, "worst": 100, "threshold": 36}]}}})");
    SmartTestOutcome o = RunOn(*ata);
    EXPECT_EQ(o.resInfo, "IDE Model: Café € DISK, Serial: Sß1, Size = 1.00 MBytes ");
    EXPECT_EQ(o.result.ModelNumber, "Café € DISK");
    EXPECT_EQ(o.result.SerialNumber, "Sß1");

    auto scsi = Drive(R"("scsi": {"hex": "00800005)" + std::string("5a31fc32ff") + R"("})");
    EXPECT_EQ(RunOn(*scsi).resInfo, "SCSI Serial: Z1ü2ÿ (NO S.M.A.R.T. support)");

    // A manifest's UTF-8 text is what the drive holds in the code page, so it reads back the same.
    auto text = Drive(R"("scsi": {"text": "Zürich"})");
    EXPECT_EQ(RunOn(*text).resInfo, "SCSI Serial: Zürich (NO S.M.A.R.T. support)");
}

// Drives that come and go between the list and the test renumber the others: the
// test must not rate another disk under the picked drive's name.
TEST(SmartTestRun, ADriveNumberThatNowLeadsToAnotherDiskShowsNothing) {
    const std::string healthy = Position0(R"([{"id": 5, "flags": 51, "current": 100, "worst": 100, "threshold": 36}])");
    const std::string failing = R"("ide": {"positions": {"0": {"identify": {"model": "OTHER DISK", "serial": "O1",
        "firmware": "1.0", "sectors": 2097152}, "attributes": [{"id": 5, "flags": 51, "current": 10, "worst": 10,
        "threshold": 36}]}}})";
    auto m = testsupport::Machine(R"({"drives": [{"path": "\\\\.\\PhysicalDrive0", "size": 1073741824, )" + healthy +
                                  R"(}, {"path": "\\\\.\\PhysicalDrive1", "size": 1073741824, )" + failing + "}]}");
    const THardDrive listed(*m, "\\\\.\\PhysicalDrive0");
    ASSERT_TRUE(listed.Identity.known);
    SmartTestOutcome o = RunSmartTest(*m, 0, 0, 2048, ",", &listed.Identity);
    ASSERT_TRUE(o.tableShown) << "the listed disk itself is rated";
    EXPECT_FALSE(o.wrongDisk);
    EXPECT_EQ(o.result.ModelNumber, "WDC WD800");

    ASSERT_TRUE(m->RemoveDrive("\\\\.\\PhysicalDrive0"));  // the failing disk is number 0 now
    const size_t opensBefore = m->Opens().size();
    o = RunSmartTest(*m, 0, 0, 2048, ",", &listed.Identity);
    EXPECT_TRUE(o.wrongDisk);
    EXPECT_FALSE(o.tableShown);
    EXPECT_TRUE(o.attributes.empty());
    EXPECT_EQ(o.resInfo, "");
    EXPECT_FALSE(SmartTestFailed(o)) << "another disk's failing attribute is not this drive's";
    EXPECT_GT(m->Opens().size(), opensBefore);
    EXPECT_EQ(m->OpenHandleCount(), 0u);
}
