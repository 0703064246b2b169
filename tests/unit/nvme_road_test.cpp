// The NVMe road on simulated drives: the protocol query and its allow-list, the
// drive list, the S.M.A.R.T. run, its rows, summary, verdict and report.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "drive/drivelist.h"
#include "drive/usersystem.h"
#include "platform/nvmequery.h"
#include "platform/platform.h"
#include "shell/messages.h"
#include "shell/translation.h"
#include "smart/smartapi.h"
#include "smart/smarttest.h"
#include "support/sim.h"

using namespace platform;

namespace {

const char* kNvmeDrive = R"("nvme": {"model": "QEMU NVMe Ctrl", "serial": "deadbeef", "firmware": "8.0.0",
    "wctemp": 343, "cctemp": 373, "nsze": 2097152, "lbaSize": 512,
    "health": {"compositeTemperature": 323, "availableSpare": 100, "availableSpareThreshold": 10,
               "percentageUsed": 3, "dataUnitsRead": "36893488147419103232", "dataUnitsWritten": 5,
               "hostReadCommands": 1000, "hostWriteCommands": 2000, "controllerBusyTime": 7,
               "powerCycles": 12, "powerOnHours": 3456, "unsafeShutdowns": 2, "mediaErrors": 0,
               "errorLogEntries": 9, "warningTemperatureTime": 4, "criticalTemperatureTime": 1,
               "temperatureSensors": [320, 0, 330]}})";

std::unique_ptr<sim::SimPlatform> Drive(const std::string& nvme, const std::string& more = "") {
    return testsupport::Machine(R"({"errors": {"5": "Input/output error", "25": "Inappropriate ioctl for device"},
        "drives": [{"path": "\\\\.\\PhysicalDrive0", "size": 1073741824, "wmi": {"Model": "QEMU NVMe Ctrl"}, )" +
                                nvme + more + "}]}");
}

std::vector<uint8_t> Query(uint32_t dataType, uint32_t value, uint32_t subValue, uint32_t length) {
    return BuildNvmeQuery(dataType, value, subValue, length);
}

STORAGE_PROTOCOL_SPECIFIC_DATA& Proto(std::vector<uint8_t>& b) {
    return *reinterpret_cast<STORAGE_PROTOCOL_SPECIFIC_DATA*>(b.data() + 8);
}

}  // namespace

TEST(NvmeQueryAllowList, OnlyIdentifyControllerNamespaceAndTheWholeHealthLogPass) {
    uint32_t err = 0;
    auto ok = [&](std::vector<uint8_t> b) {
        return CheckNvmeQuery(b.data(), static_cast<uint32_t>(b.size()), static_cast<uint32_t>(b.size()), &err).kind;
    };
    EXPECT_EQ(ok(Query(NVMeDataTypeIdentify, 1, 0, 4096)), NvmeQuery::IdentifyController);
    EXPECT_EQ(ok(Query(NVMeDataTypeIdentify, 0, 0, 4096)), NvmeQuery::IdentifyNamespace);
    EXPECT_EQ(ok(Query(NVMeDataTypeIdentify, 0, 1, 4096)), NvmeQuery::IdentifyNamespace);
    EXPECT_EQ(ok(Query(NVMeDataTypeLogPage, 2, 0, 512)), NvmeQuery::HealthLog);
    EXPECT_EQ(err, 0u);

    std::vector<std::vector<uint8_t>> refused = {
        Query(3, 0x06, 0, 512),                           // Get Features
        Query(NVMeDataTypeIdentify, 2, 0, 4096),          // active namespace list
        Query(NVMeDataTypeIdentify, 0, 0xFFFFFFFFu, 4096),  // every namespace at once
        Query(NVMeDataTypeIdentify, 1, 5, 4096),          // controller with an NSID
        Query(NVMeDataTypeLogPage, 1, 0, 512),            // error information log
        Query(NVMeDataTypeLogPage, 6, 0, 512),            // device self-test log
        Query(NVMeDataTypeLogPage, 2, 8, 512),            // an offset into the page
        Query(NVMeDataTypeLogPage, 2, 0, 256),            // part of the page
        Query(NVMeDataTypeIdentify, 1, 0, 512),           // identify into a short buffer
    };
    auto b = Query(NVMeDataTypeLogPage, 2, 0, 512);
    Proto(b).ProtocolDataRequestSubValue2 = 1;  // offset above 4 GiB
    refused.push_back(b);
    b = Query(NVMeDataTypeLogPage, 2, 0, 512);
    Proto(b).ProtocolType = 2;  // ATA
    refused.push_back(b);
    b = Query(NVMeDataTypeLogPage, 2, 0, 512);
    b[0] = 49;  // the adapter's property
    refused.push_back(b);
    b = Query(NVMeDataTypeLogPage, 2, 0, 512);
    Proto(b).ProtocolDataOffset = 4096;  // data outside the buffer
    refused.push_back(b);
    for (size_t i = 0; i < refused.size(); ++i) {
        err = 0;
        EXPECT_EQ(ok(refused[i]), NvmeQuery::None) << i;
        EXPECT_EQ(err, static_cast<uint32_t>(EINVAL)) << i;
    }
    // An output shorter than head and data, or an input shorter than the head.
    auto log = Query(NVMeDataTypeLogPage, 2, 0, 512);
    EXPECT_EQ(CheckNvmeQuery(log.data(), 48, 48 + 511, &err).kind, NvmeQuery::None);
    EXPECT_EQ(CheckNvmeQuery(log.data(), 47, 48 + 512, &err).kind, NvmeQuery::None);
    EXPECT_EQ(CheckNvmeQuery(nullptr, 48, 48 + 512, &err).kind, NvmeQuery::None);
}

TEST(NvmeQuerySim, RefusedQueriesNeverReachTheManifestsAnswers) {
    auto m = Drive(kNvmeDrive);
    const Handle h = m->CreateFile("\\\\.\\PhysicalDrive0", GENERIC_READ, 0, OPEN_EXISTING, 0);
    ASSERT_NE(h, InvalidHandle);
    auto b = Query(NVMeDataTypeLogPage, 1, 0, 512);
    uint32_t n = 0;
    EXPECT_FALSE(m->DeviceIoControl(h, IOCTL_STORAGE_QUERY_PROPERTY, b.data(), static_cast<uint32_t>(b.size()),
                                    b.data(), static_cast<uint32_t>(b.size()), &n));
    EXPECT_EQ(m->GetLastError(), static_cast<uint32_t>(EINVAL));
    b = Query(NVMeDataTypeLogPage, 2, 0, 512);
    ASSERT_TRUE(m->DeviceIoControl(h, IOCTL_STORAGE_QUERY_PROPERTY, b.data(), static_cast<uint32_t>(b.size()),
                                   b.data(), static_cast<uint32_t>(b.size()), &n));
    EXPECT_EQ(n, 48u + 512u);
    STORAGE_PROTOCOL_DATA_DESCRIPTOR head;
    std::memcpy(&head, b.data(), sizeof head);
    EXPECT_EQ(head.Version, 48u);
    EXPECT_EQ(head.Size, 48u);
    EXPECT_EQ(head.ProtocolSpecificData.ProtocolDataOffset, 40u);
    EXPECT_EQ(head.ProtocolSpecificData.ProtocolDataLength, 512u);
    EXPECT_EQ(b[48 + 1] | b[48 + 2] << 8, 323);  // composite temperature
    m->CloseHandle(h);

    // A drive without an nvme section does not answer the query at all.
    auto ata = testsupport::Machine(R"({"drives": [{"path": "\\\\.\\PhysicalDrive0", "size": 1048576}]})");
    const Handle a = ata->CreateFile("\\\\.\\PhysicalDrive0", GENERIC_READ, 0, OPEN_EXISTING, 0);
    b = Query(NVMeDataTypeIdentify, 1, 0, 4096);
    EXPECT_FALSE(ata->DeviceIoControl(a, IOCTL_STORAGE_QUERY_PROPERTY, b.data(), static_cast<uint32_t>(b.size()),
                                      b.data(), static_cast<uint32_t>(b.size()), &n));
    EXPECT_EQ(ata->GetLastError(), static_cast<uint32_t>(ENOTTY));
}

TEST(NvmeIdentifyDrive, IdentityCapacityAndReadOnlyOpen) {
    auto m = Drive(kNvmeDrive);
    std::string error;
    NvmeIdentity id;
    ASSERT_TRUE(IdentifyNvmeDrive(*m, 0, error, id)) << error;
    EXPECT_EQ(id.model, "QEMU NVMe Ctrl");
    EXPECT_EQ(id.serial, "deadbeef");
    EXPECT_EQ(id.firmware, "8.0.0");
    EXPECT_EQ(id.sizeBytes, 1073741824);
    EXPECT_EQ(id.warningTemperature, 343);
    EXPECT_EQ(id.criticalTemperature, 373);
    for (const auto& o : m->Opens()) EXPECT_EQ(o.access, GENERIC_READ);
    EXPECT_EQ(m->OpenHandleCount(), 0u);

    // A namespace that cannot be identified leaves the size unknown, not the drive.
    auto failNs = Drive(R"("nvme": {"model": "M", "fail": {"identifyNamespace": {"error": 5}}})");
    ASSERT_TRUE(IdentifyNvmeDrive(*failNs, 0, error, id));
    EXPECT_EQ(id.sizeBytes, 0);
    auto failCtrl = Drive(R"("nvme": {"model": "M", "fail": {"identifyController": {"error": 5}}})");
    EXPECT_FALSE(IdentifyNvmeDrive(*failCtrl, 0, error, id));
    EXPECT_EQ(error, "NVMe Identify Controller failed: Input/output error");
}

TEST(NvmeSmartRun, RowsSummaryAndVerdictOfAHealthyDrive) {
    auto m = Drive(kNvmeDrive);
    const SmartTestOutcome o = RunSmartTest(*m, 0, 0, 2048, ",");
    ASSERT_TRUE(o.tableShown) << o.resInfo;
    EXPECT_TRUE(o.nvme);
    EXPECT_EQ(o.resInfo, "NVMe Model: QEMU NVMe Ctrl, Serial: deadbeef, Size = 1.00 MBytes ");
    EXPECT_EQ(o.summary[0], "Temp 50\u00B0C");
    EXPECT_EQ(o.summary[1], "Media Errors 0");
    EXPECT_EQ(o.summary[2], "SMART Test Passed");
    EXPECT_FALSE(SmartTestFailed(o));
    EXPECT_EQ(o.result.ModelNumber, "QEMU NVMe Ctrl");
    EXPECT_EQ(o.result.FirmwareRevision, "8.0.0");
    ASSERT_EQ(o.attributes.size(), 20u);
    const SmartRow& temp = o.attributes[1];
    EXPECT_EQ(temp.caption, "Composite Temperature");
    EXPECT_EQ(temp.offset, 1);
    EXPECT_EQ(temp.id, 0);
    EXPECT_EQ(temp.current, "50");
    EXPECT_EQ(temp.worst, "");
    EXPECT_EQ(temp.threshold, "70");
    EXPECT_EQ(temp.raw, "323");
    EXPECT_TRUE(temp.temperature);
    EXPECT_TRUE(temp.bar);
    const SmartRow& spare = o.attributes[2];
    EXPECT_EQ(spare.threshold, "10");
    EXPECT_EQ(spare.state, "OK");
    EXPECT_EQ(spare.barPosition, 100);
    EXPECT_EQ(o.attributes[4].barPosition, 97);  // remaining life
    const SmartRow& read = o.attributes[6];
    EXPECT_EQ(read.caption, "Data Units Read");
    EXPECT_EQ(read.raw, "36,893,488,147,419,103,232");
    EXPECT_EQ(read.current, "36893488147419103232");
    EXPECT_EQ(read.state, "-");
    EXPECT_FALSE(read.bar);
    EXPECT_EQ(o.attributes[18].caption, "Temperature Sensor 1");
    EXPECT_EQ(o.attributes[19].caption, "Temperature Sensor 3");
    EXPECT_EQ(o.attributes[19].current, "57");

    const auto lines = SmartTestReport(o, "d", "PC", "anna", "10.0.0.1", "http://www.kaveno.de");
    ASSERT_GT(lines.size(), 20u);
    EXPECT_EQ(lines[1], o.resInfo);
    EXPECT_EQ(lines[10], "Temp 50\u00B0C");
    EXPECT_EQ(lines[11], "Media Errors 0");
    EXPECT_EQ(lines[12], "SMART Test Passed");
    EXPECT_EQ(lines[18], "Critical Warning \tOK\t0\t\t\t0");
    EXPECT_EQ(lines[19], "Composite Temperature \tOK\t50\t\t70\t323");
    EXPECT_EQ(lines.back(), "http://www.kaveno.de");
}

TEST(NvmeSmartRun, CriticalWarningFailsTheVerdict) {
    auto m = Drive(R"("nvme": {"model": "M", "serial": "S", "firmware": "F", "health": {"criticalWarning": 4,
        "compositeTemperature": 300, "availableSpare": 20, "availableSpareThreshold": 10, "mediaErrors": 3}})");
    const SmartTestOutcome o = RunSmartTest(*m, 0, 0, 2048, ",");
    ASSERT_TRUE(o.tableShown);
    EXPECT_EQ(o.attributes[0].state, "Failing Now");
    EXPECT_EQ(o.attributes[0].caption, "Critical Warning: reliability degraded");
    EXPECT_EQ(o.summary[1], "Media Errors 3");
    EXPECT_EQ(o.summary[2], "SMART Test Failed, Bad Attributes 1");
    EXPECT_EQ(o.result.WarningCount, 2);  // spare 20 of threshold 10, media errors
    EXPECT_TRUE(SmartTestFailed(o));

    // A failed log read ends the run with its text.
    auto noLog = Drive(R"("nvme": {"model": "M", "fail": {"healthLog": {"error": 5}}})");
    const SmartTestOutcome f = RunSmartTest(*noLog, 0, 0, 2048, ",");
    EXPECT_FALSE(f.tableShown);
    EXPECT_EQ(f.resInfo, "NVMe SMART / Health Information log failed: Input/output error");
}

TEST(NvmeDriveList, SmartListOffersNvmeDrivesBesideAtaOnes) {
    auto m = testsupport::Machine(std::string(R"({"drives": [
        {"path": "\\\\.\\PhysicalDrive0", "size": 1048576, "wmi": {"Model": "plain"}},
        {"path": "\\\\.\\PhysicalDrive1", "size": 1073741824, "wmi": {"Model": "QEMU NVMe Ctrl"}, )") +
                                  kNvmeDrive + "}]}");
    translation::TTranslator t(translation::MainFormTable());
    MessageStrings messages;
    translation::LoadMessageStrings(t, messages);
    TUserSystem system(*m);
    TDriveList list(*m, system, DriveListTextsOf(messages), {});
    const auto entries = list.ListDrivesForSmartTest();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].record->DriveNumber, 1);
    EXPECT_EQ(entries[0].caption, "QEMU NVMe Ctrl 1.00 GBytes ");
}
