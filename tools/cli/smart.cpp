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

namespace {

// An NVMe drive's document: its rows carry the log offset instead of an ID, and
// the decoded log comes as the "nvme" object.
nlohmann::ordered_json NvmeSmartJson(const SmartTestOutcome& out, int32_t n, int64_t start, int64_t end,
                                     const std::vector<std::string>& report, int code) {
    const NvmeHealthLog& h = out.nvmeHealth;
    nlohmann::ordered_json attributes = nlohmann::ordered_json::array();
    for (size_t i = 0; i < out.nvmeRating.rows.size(); ++i) {
        const NvmeRow& row = out.nvmeRating.rows[i];
        attributes.push_back({
            {"id", nullptr},
            {"offset", row.offset},
            {"name", row.name},
            {"caption", row.caption},
            {"state", row.state},
            {"current", row.celsius ? nlohmann::ordered_json(row.current) : nlohmann::ordered_json(Saturated(row.raw))},
            {"worst", nullptr},
            {"threshold", row.hasThreshold ? nlohmann::ordered_json(row.threshold) : nlohmann::ordered_json()},
            {"raw", Saturated(row.raw)},
            {"rawText", i < out.attributes.size() ? out.attributes[i].raw : std::string()},
            {"preFailure", false},
        });
    }
    nlohmann::ordered_json sensors = nlohmann::ordered_json::array();
    for (uint16_t k : h.temperatureSensors)
        if (k) sensors.push_back(KelvinToCelsius(k));
    const nlohmann::ordered_json nvme = {
        {"criticalWarning", h.criticalWarning},
        {"temperature", KelvinToCelsius(h.compositeTemperature)},
        {"availableSpare", h.availableSpare},
        {"availableSpareThreshold", h.availableSpareThreshold},
        {"percentageUsed", h.percentageUsed},
        {"enduranceGroupCriticalWarning", h.enduranceGroupCriticalWarning},
        {"dataUnitsRead", Saturated(h.dataUnitsRead)},
        {"dataUnitsWritten", Saturated(h.dataUnitsWritten)},
        {"hostReadCommands", Saturated(h.hostReadCommands)},
        {"hostWriteCommands", Saturated(h.hostWriteCommands)},
        {"controllerBusyTime", Saturated(h.controllerBusyTime)},
        {"powerCycles", Saturated(h.powerCycles)},
        {"powerOnHours", Saturated(h.powerOnHours)},
        {"unsafeShutdowns", Saturated(h.unsafeShutdowns)},
        {"mediaErrors", Saturated(h.mediaErrors)},
        {"errorLogEntries", Saturated(h.errorLogEntries)},
        {"warningTemperatureTime", h.warningTemperatureTime},
        {"criticalTemperatureTime", h.criticalTemperatureTime},
        {"temperatureSensors", sensors},
    };
    const TSmartResult& r = out.result;
    return {
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
        {"failedCount", r.FailedCount},
        {"warningCount", r.WarningCount},
        {"attributes", attributes},
        {"nvme", nvme},
        {"report", report},
        {"exitCode", code},
    };
}

}  // namespace

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

    // Every open of the test must reach the disk this probe measured.
    const SmartTestOutcome out = RunSmartTest(p, n, start, end, GroupSeparator(), &probe.Identity);
    if (out.wrongDisk)
        return Fail(o, "smart", ExitUnreadable,
                    path + " leads to another disk than the one probed (drives were added or removed); "
                           "nothing was read");
    if (!out.tableShown) return Fail(o, "smart", ExitUnreadable, out.resInfo);

    const std::vector<std::string> report =
        SmartTestReport(out, ReportDateTime(), ComputerNameForReport(p), UserNameForReport(p), GetLocalIpAddress(p),
                        MakerWebAddress);
    const TSmartResult& r = out.result;
    const int count = std::min(r.AttributeCount, static_cast<int32_t>(SmartSlotCount));
    const int code = SmartTestFailed(out) ? ExitProblems : ExitHealthy;

    // The window's hint beside the table, as it logs it.
    if (!messages.StrCheckValues.empty()) std::cerr << Printable(messages.StrCheckValues) << '\n';
    if (!o.json) {
        PrintLines(report);
        return code;
    }
    nlohmann::ordered_json attributes = nlohmann::ordered_json::array();
    if (out.nvme) {
        PrintJson(NvmeSmartJson(out, n, start, end, report, code));
        return code;
    }
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
