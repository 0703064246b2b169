#include <algorithm>
#include <iostream>
#include <nlohmann/json.hpp>

#include "commands.h"
#include "drive/harddrive.h"
#include "drive/hostinfo.h"
#include "platform/platform.h"
#include "smart/smartcatalog.h"
#include "smart/smarttest.h"
#include "surface/report.h"

namespace cli {

int SmartCommand(platform::Platform& p, const Options& o) {
    const MessageStrings messages = EnglishMessages();
    const int32_t n = o.driveNumber;
    const std::string path = "\\\\.\\PhysicalDrive" + std::to_string(n);
    // The range the window's double click takes from the list record, which is
    // this probe's partition information.
    THardDrive probe(p, path);
    if (!probe.PartitionInfoValid && !probe.GeometryValid)
        return Fail(o, "smart", ExitUnreadable, "cannot open " + path + ": " + OpenErrorText(p, path));
    const int64_t start = probe.PartitionInfo.StartingOffset / BytesPerSector;
    const int64_t end = start + probe.PartitionInfo.PartitionLength / 512;
    if (end - start < 1) return Fail(o, "smart", ExitUnreadable, path + ": " + messages.strSBADDisk);

    const SmartTestOutcome out = RunSmartTest(p, n, start, end, GroupSeparator());
    if (!out.tableShown) return Fail(o, "smart", ExitUnreadable, out.resInfo);

    const std::vector<std::string> report =
        SmartTestReport(out, ReportDateTime(), ComputerNameForReport(p), UserNameForReport(p), GetLocalIpAddress(p));
    const TSmartResult& r = out.result;
    const int count = std::min(r.AttributeCount, static_cast<int32_t>(SmartSlotCount));
    bool failed = false;
    for (int i = 0; i < count; ++i)
        if (r.AttributeStatus[i] == SmartStatusFailingNow || r.AttributeStatus[i] == SmartStatusFailedInPast)
            failed = true;
    const int code = failed ? ExitProblems : ExitHealthy;

    // The window's hint beside the table, as it logs it.
    if (!messages.StrCheckValues.empty()) std::cerr << Printable(messages.StrCheckValues) << '\n';
    if (!o.json) {
        PrintLines(report);
        return code;
    }
    nlohmann::ordered_json attributes = nlohmann::ordered_json::array();
    for (int i = 0; i < count; ++i) {
        const SmartRow* row = static_cast<size_t>(i) < out.attributes.size() ? &out.attributes[static_cast<size_t>(i)] : nullptr;
        attributes.push_back({
            {"id", r.AttributeId[i]},
            {"name", r.AttributeName[i]},
            {"caption", row ? row->caption : r.AttributeName[i]},
            {"state", r.AttributeStatus[i]},
            {"current", r.CurrentValue[i]},
            {"worst", r.WorstValue[i]},
            {"threshold", r.ThresholdValue[i]},
            {"raw", r.RawValue[i]},
            {"rawText", row ? row->raw : std::string()},
            {"preFailure", r.PreFailure[i]},
        });
    }
    PrintJson({
        {"command", "smart"},
        {"drive", n},
        {"startSector", start},
        {"endSector", end},
        {"resInfo", out.resInfo},
        {"model", r.ModelNumber},
        {"serial", r.SerialNumber},
        {"firmware", r.FirmwareRevision},
        {"summary", {out.summary[0], out.summary[1], out.summary[2]}},
        {"temperature", r.TemperatureCurrent},
        {"reallocatedSectors", r.ReallocatedSectors},
        {"failedCount", r.FailedCount},
        {"warningCount", r.WarningCount},
        {"attributes", attributes},
        {"report", report},
        {"exitCode", code},
    });
    return code;
}

}  // namespace cli
