#include "smart/smarttest.h"

#include <algorithm>

#include "drive/format.h"
#include "drive/pinneddrive.h"
#include "platform/drivepath.h"
#include "smart/smartapi.h"
#include "smart/smartreport.h"

const char* const SmartColumnCaptions[7] = {"Name",    "State", "Visual",   "Current",
                                            "Worst",   "Threshold", "Raw Value"};

namespace {

// Upper-casing the catalogue's names only ever touches ASCII letters.
std::string UpperAscii(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

}  // namespace

int SmartBarMaximum(int current) {
    if (current > 200) return 255;
    if (current > 100) return 200;
    return 100;
}

namespace {

// The NVMe road: Identify and the health log through the protocol query, one row
// per log field, the same summary rows and verdict as ATA.
void RunNvmeTest(platform::Platform& p, int32_t driveNumber, const std::string& rangeSize,
                 const std::string& groupSeparator, SmartTestOutcome& o) {
    std::string error;
    if (!ReadNvmeHealth(p, driveNumber, o.nvmeIdentity, o.nvmeHealth, error)) {
        o.resInfo = error;
        return;
    }
    const NvmeIdentity& id = o.nvmeIdentity;
    o.resInfo = "NVMe Model: " + id.model + ", Serial: " + id.serial + ", Size = " + rangeSize;
    o.nvmeRating = RateNvmeHealth(o.nvmeHealth, id);
    TSmartResult& r = o.result;
    r.DeviceIndex = 0;
    r.SizeBytes = id.sizeBytes;
    r.ModelNumber = id.model;
    r.SerialNumber = id.serial;
    r.FirmwareRevision = id.firmware;
    r.TemperatureCurrent = KelvinToCelsius(o.nvmeHealth.compositeTemperature);
    r.FailedCount = o.nvmeRating.failedCount;
    r.WarningCount = o.nvmeRating.warningCount;

    o.summary[0] = "Temp " + std::to_string(r.TemperatureCurrent) + "\u00B0C";
    o.summary[1] = "Media Errors " + DecimalText(o.nvmeHealth.mediaErrors);
    o.summary[2] = r.FailedCount != 0 ? "SMART Test Failed, Bad Attributes " + std::to_string(r.FailedCount)
                                      : std::string("SMART Test Passed");
    for (const NvmeRow& n : o.nvmeRating.rows) {
        SmartRow row;
        row.offset = n.offset;
        row.caption = n.caption;
        row.state = n.state;
        row.current = n.currentText;
        row.threshold = n.hasThreshold ? std::to_string(n.threshold) : std::string();
        row.raw = GroupedText(n.raw, groupSeparator);
        row.bar = n.bar;
        row.barMaximum = n.barMaximum;
        row.barPosition = n.barPosition;
        row.temperature = n.temperature;
        o.attributes.push_back(std::move(row));
    }
    o.nvme = true;
    o.tableShown = true;
}

}  // namespace

bool SmartTestFailed(const SmartTestOutcome& o) {
    for (const SmartRow& r : o.attributes)
        if (r.state == SmartStatusFailingNow || r.state == SmartStatusFailedInPast) return true;
    return false;
}

namespace {
SmartTestOutcome RunSmartTestOn(platform::Platform& p, int32_t driveNumber, int64_t startSector,
                                int64_t endSector, const std::string& groupSeparator);
}  // namespace

SmartTestOutcome RunSmartTest(platform::Platform& p, int32_t driveNumber, int64_t startSector, int64_t endSector,
                              const std::string& groupSeparator, const DriveIdentity* expected) {
    if (!expected) return RunSmartTestOn(p, driveNumber, startSector, endSector, groupSeparator);
    PinnedDrivePlatform pinned(p, platform::PhysicalDrivePath(driveNumber), *expected);
    SmartTestOutcome o = RunSmartTestOn(pinned, driveNumber, startSector, endSector, groupSeparator);
    if (pinned.WrongDisk()) {
        // Nothing read from another disk may be shown as this drive's health.
        o = SmartTestOutcome{};
        o.wrongDisk = true;
    }
    return o;
}

namespace {

SmartTestOutcome RunSmartTestOn(platform::Platform& p, int32_t driveNumber, int64_t startSector,
                                int64_t endSector, const std::string& groupSeparator) {
    SmartTestOutcome o;
    std::string error, model, serial;
    int64_t size = 0;
    if (!IdentifyAtaDrive(p, driveNumber, error, model, serial, size)) {
        // A drive that does not answer ATA may be an NVMe drive.
        NvmeIdentity nvme;
        std::string nvmeError;
        if (IdentifyNvmeDrive(p, driveNumber, nvmeError, nvme)) {
            RunNvmeTest(p, driveNumber, FormatSize((endSector - startSector) * 512), groupSeparator, o);
            return o;
        }
        if (ReadScsiSerial(p, driveNumber, error, model, serial, size))
            o.resInfo = "SCSI Serial: " + serial;
        else
            o.resInfo = error;
        o.resInfo += " (NO S.M.A.R.T. support)";
        return o;
    }
    // The size of the range chosen in the drive list, not the IDENTIFY capacity.
    o.resInfo = "IDE Model: " + model + ", Serial: " + serial + ", Size = " +
                FormatSize((endSector - startSector) * 512);

    TSmartResult& r = o.result;
    if (!ReadSmartData(p, driveNumber, r, error)) {
        o.resInfo = error;
        return o;
    }
    if (r.AttributeCount == 0) {
        o.resInfo += " No SMART Attributes Returned - " + error;
        return o;
    }

    o.summary[0] = "Temp " + std::to_string(r.TemperatureCurrent) + "\u00B0C";
    o.summary[1] = "Realloc Sec " + std::to_string(r.ReallocatedSectors);
    o.summary[2] = r.FailedCount != 0 ? "SMART Test Failed, Bad Attributes " + std::to_string(r.FailedCount)
                                      : std::string("SMART Test Passed");
    const int count = std::min(r.AttributeCount, SmartEntryCount);
    for (int i = 0; i < count; ++i) {
        SmartRow row;
        row.id = r.AttributeId[i];
        row.caption = UpperAscii(r.AttributeName[i]) == "UNKNOWN" ? std::to_string(r.AttributeId[i])
                                                                  : r.AttributeName[i];
        row.state = r.AttributeStatus[i];
        row.current = std::to_string(r.CurrentValue[i]);
        row.worst = std::to_string(r.WorstValue[i]);
        row.threshold = std::to_string(r.ThresholdValue[i]);
        // The low 32 bits, read as signed: a top bit set shows as a negative number.
        row.raw = IntToStrGrouped(static_cast<int32_t>(static_cast<uint32_t>(r.RawValue[i] & 0xFFFFFFFF)),
                                  groupSeparator);
        row.barMaximum = SmartBarMaximum(r.CurrentValue[i]);
        row.barPosition = r.CurrentValue[i];
        row.temperature = UpperAscii(row.caption).find("TEMP") != std::string::npos;
        o.attributes.push_back(std::move(row));
    }
    o.tableShown = true;
    return o;
}

}  // namespace

std::vector<std::string> SmartTestReport(const SmartTestOutcome& o, const std::string& dateTime,
                                         const std::string& computer, const std::string& user,
                                         const std::string& ip, const std::string& webAddress) {
    // As "Print Report" on an empty list: nothing to write.
    if (!o.tableShown) return {};
    SmartReportInput in;
    in.resInfo = o.resInfo;
    in.dateTime = dateTime;
    in.computer = computer;
    in.user = user;
    in.ip = ip;
    for (int i = 0; i < 3; ++i) in.summary[i] = o.summary[i];
    for (int c = 0; c < 7; ++c) in.columns[c] = SmartColumnCaptions[c];
    for (const SmartRow& r : o.attributes)
        in.attributes.push_back({r.caption, r.state, r.current, r.worst, r.threshold, r.raw});
    in.webAddress = webAddress;
    return BuildSmartReport(in);
}
