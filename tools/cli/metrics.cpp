#include <chrono>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <set>

#include "commands.h"
#include "drives.h"
#ifdef _WIN32
#include <fstream>

#include "platform/win32/windows_api.h"
#else
#include "platform/linux/scanrecords.h"
#endif
#include "platform/platform.h"
#include "shell/exposition.h"
#include "smart/smartcatalog.h"
#include "surface/scanrecord.h"

namespace cli {

namespace {

using exposition::Labels;

#ifdef _WIN32
// A whole file or none: written beside the target, flushed, then moved over it.
bool StoreTextfile(const std::string& dir, const std::string& name, const std::string& text) {
    const std::string target = dir + "\\" + name, temp = target + ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out.write(text.data(), static_cast<std::streamsize>(text.size())).flush()) {
            errno = EIO;
            return false;
        }
    }
    if (::MoveFileExA(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    ::DeleteFileA(temp.c_str());
    errno = EACCES;
    return false;
}
#else
bool StoreTextfile(const std::string& dir, const std::string& name, const std::string& text) {
    return platform::linuxbe::StoreFileAtomically(dir, name, text, 0644);
}
#endif
using exposition::Number;

void DeclareFamilies(exposition::Writer& w) {
    w.Family("scandor_drive_info", "gauge", "Identification of a physical drive; always 1.");
    w.Family("scandor_drive_error", "gauge",
             "A drive that could not be read or gave no S.M.A.R.T. answer; always 1, its other values are left out.");
    w.Family("scandor_smart_healthy", "gauge",
             "1 when no attribute is rated Failing Now or Failed In Past and no NVMe rule fails, else 0.");
    w.Family("scandor_smart_failed_attributes", "gauge", "Attributes rated Failing Now or Failed In Past.");
    w.Family("scandor_smart_warning_attributes", "gauge", "Attributes rated Warning.");
    w.Family("scandor_smart_attribute_value", "gauge", "Normalized current value of an ATA S.M.A.R.T. attribute.");
    w.Family("scandor_smart_attribute_worst", "gauge", "Worst normalized value of an ATA S.M.A.R.T. attribute.");
    w.Family("scandor_smart_attribute_threshold", "gauge", "Failure threshold of an ATA S.M.A.R.T. attribute.");
    w.Family("scandor_smart_attribute_raw", "gauge", "48-bit raw value of an ATA S.M.A.R.T. attribute.");
    w.Family("scandor_temperature_celsius", "gauge", "Current drive temperature.");
    w.Family("scandor_power_on_seconds_total", "counter", "Power-on time the drive reports.");
    w.Family("scandor_nvme_critical_warning", "gauge", "NVMe critical warning bits.");
    w.Family("scandor_nvme_temperature_celsius", "gauge", "NVMe composite temperature.");
    w.Family("scandor_nvme_available_spare", "gauge", "NVMe available spare, percent.");
    w.Family("scandor_nvme_available_spare_threshold", "gauge", "NVMe available spare threshold, percent.");
    w.Family("scandor_nvme_percentage_used", "gauge", "NVMe estimate of the life used, percent (may exceed 100).");
    w.Family("scandor_nvme_endurance_group_critical_warning", "gauge", "NVMe endurance group critical warning bits.");
    w.Family("scandor_nvme_data_units_read_bytes_total", "counter", "NVMe data read (units of 512,000 bytes, as bytes).");
    w.Family("scandor_nvme_data_units_written_bytes_total", "counter",
             "NVMe data written (units of 512,000 bytes, as bytes).");
    w.Family("scandor_nvme_host_read_commands_total", "counter", "NVMe read commands completed.");
    w.Family("scandor_nvme_host_write_commands_total", "counter", "NVMe write commands completed.");
    w.Family("scandor_nvme_controller_busy_time_seconds_total", "counter", "NVMe controller busy time.");
    w.Family("scandor_nvme_power_cycles_total", "counter", "NVMe power cycles.");
    w.Family("scandor_nvme_power_on_seconds_total", "counter", "NVMe power-on time.");
    w.Family("scandor_nvme_unsafe_shutdowns_total", "counter", "NVMe unsafe shutdowns.");
    w.Family("scandor_nvme_media_errors_total", "counter", "NVMe media and data integrity errors.");
    w.Family("scandor_nvme_error_log_entries_total", "counter", "NVMe error information log entries.");
    w.Family("scandor_nvme_warning_temperature_time_seconds_total", "counter",
             "NVMe time at or above the warning composite temperature.");
    w.Family("scandor_nvme_critical_temperature_time_seconds_total", "counter",
             "NVMe time at or above the critical composite temperature.");
    w.Family("scandor_nvme_temperature_sensor_celsius", "gauge", "NVMe temperature sensor reading.");
    w.Family("scandor_surface_last_run_timestamp_seconds", "gauge", "Start of the drive's last surface scan.");
    w.Family("scandor_surface_failed_blocks", "gauge", "Blocks the last surface scan could not read.");
    w.Family("scandor_surface_blocks", "gauge", "Blocks of the last surface scan by read time class.");
    w.Family("scandor_surface_duration_seconds", "gauge", "Duration of the last surface scan.");
    w.Family("scandor_surface_completed", "gauge", "1 when the last surface scan read to the end, 0 when it stopped early.");
    w.Family("scandor_metrics_success", "gauge", "1 when drives were found and examined, else 0.");
    w.Family("scandor_metrics_duration_seconds", "gauge", "Time taken to collect these metrics.");
}

// Data units count thousands of 512-byte blocks; saturated counters stay saturated.
double DataUnitBytes(Uint128 v) {
    return (static_cast<double>(v.hi) * 18446744073709551616.0 + static_cast<double>(v.lo)) * 512000.0;
}
double Counter(Uint128 v) { return static_cast<double>(v.hi) * 18446744073709551616.0 + static_cast<double>(v.lo); }

std::string Value(double v) { return Number(v); }

void SmartMetrics(exposition::Writer& w, const Labels& base, const SmartTestOutcome& out) {
    const TSmartResult& r = out.result;
    w.Sample("scandor_smart_healthy", base, SmartTestFailed(out) ? "0" : "1");
    w.Sample("scandor_smart_failed_attributes", base, Number(int64_t{r.FailedCount}));
    w.Sample("scandor_smart_warning_attributes", base, Number(int64_t{r.WarningCount}));
    if (out.nvme) {
        const NvmeHealthLog& h = out.nvmeHealth;
        w.Sample("scandor_temperature_celsius", base, Number(int64_t{KelvinToCelsius(h.compositeTemperature)}));
        w.Sample("scandor_power_on_seconds_total", base, Value(Counter(h.powerOnHours) * 3600.0));
        w.Sample("scandor_nvme_critical_warning", base, Number(int64_t{h.criticalWarning}));
        w.Sample("scandor_nvme_temperature_celsius", base, Number(int64_t{KelvinToCelsius(h.compositeTemperature)}));
        w.Sample("scandor_nvme_available_spare", base, Number(int64_t{h.availableSpare}));
        w.Sample("scandor_nvme_available_spare_threshold", base, Number(int64_t{h.availableSpareThreshold}));
        w.Sample("scandor_nvme_percentage_used", base, Number(int64_t{h.percentageUsed}));
        w.Sample("scandor_nvme_endurance_group_critical_warning", base, Number(int64_t{h.enduranceGroupCriticalWarning}));
        w.Sample("scandor_nvme_data_units_read_bytes_total", base, Value(DataUnitBytes(h.dataUnitsRead)));
        w.Sample("scandor_nvme_data_units_written_bytes_total", base, Value(DataUnitBytes(h.dataUnitsWritten)));
        w.Sample("scandor_nvme_host_read_commands_total", base, Value(Counter(h.hostReadCommands)));
        w.Sample("scandor_nvme_host_write_commands_total", base, Value(Counter(h.hostWriteCommands)));
        w.Sample("scandor_nvme_controller_busy_time_seconds_total", base, Value(Counter(h.controllerBusyTime) * 60.0));
        w.Sample("scandor_nvme_power_cycles_total", base, Value(Counter(h.powerCycles)));
        w.Sample("scandor_nvme_power_on_seconds_total", base, Value(Counter(h.powerOnHours) * 3600.0));
        w.Sample("scandor_nvme_unsafe_shutdowns_total", base, Value(Counter(h.unsafeShutdowns)));
        w.Sample("scandor_nvme_media_errors_total", base, Value(Counter(h.mediaErrors)));
        w.Sample("scandor_nvme_error_log_entries_total", base, Value(Counter(h.errorLogEntries)));
        w.Sample("scandor_nvme_warning_temperature_time_seconds_total", base,
                 Number(uint64_t{h.warningTemperatureTime} * 60u));
        w.Sample("scandor_nvme_critical_temperature_time_seconds_total", base,
                 Number(uint64_t{h.criticalTemperatureTime} * 60u));
        for (int s = 0; s < 8; ++s) {
            if (!h.temperatureSensors[s]) continue;
            Labels l = base;
            l.emplace_back("sensor", std::to_string(s + 1));
            w.Sample("scandor_nvme_temperature_sensor_celsius", l, Number(int64_t{KelvinToCelsius(h.temperatureSensors[s])}));
        }
        return;
    }
    const int count = std::min(r.AttributeCount, static_cast<int32_t>(SmartSlotCount));
    bool temperature = false;
    int64_t powerOnHours = -1;
    std::set<int> seen;
    for (int i = 0; i < count; ++i) {
        const int id = r.AttributeId[i];
        // An ID a drive lists twice would repeat a series, which the format does not
        // allow (readers drop one or refuse the text): the first one counts.
        if (id == 0 || !seen.insert(id).second) continue;
        temperature = temperature || id == 194 || id == 190;
        // Hours in the low 32 bits on nearly every drive; some keep minutes or milliseconds above.
        if (id == 9) powerOnHours = r.RawValue[i] & 0xFFFFFFFF;
        Labels l = base;
        l.emplace_back("attribute", std::to_string(id));
        l.emplace_back("name", r.AttributeName[i]);
        w.Sample("scandor_smart_attribute_value", l, Number(int64_t{r.CurrentValue[i]}));
        w.Sample("scandor_smart_attribute_worst", l, Number(int64_t{r.WorstValue[i]}));
        w.Sample("scandor_smart_attribute_threshold", l, Number(int64_t{r.ThresholdValue[i]}));
        w.Sample("scandor_smart_attribute_raw", l, Number(int64_t{r.RawValue[i]}));
    }
    if (temperature) w.Sample("scandor_temperature_celsius", base, Number(int64_t{r.TemperatureCurrent}));
    if (powerOnHours >= 0) w.Sample("scandor_power_on_seconds_total", base, Number(powerOnHours * 3600));
}

void SurfaceMetrics(exposition::Writer& w, const Labels& base, const ScanRecord& r) {
    w.Sample("scandor_surface_last_run_timestamp_seconds", base, Number(r.startUnix));
    w.Sample("scandor_surface_failed_blocks", base, Number(r.failedBlocks));
    for (int c = 0; c < ReadClassCount; ++c) {
        Labels l = base;
        l.emplace_back("class", ReadClassKey(static_cast<ReadClass>(c)));
        w.Sample("scandor_surface_blocks", l, Number(r.readTimes[static_cast<size_t>(c)]));
    }
    w.Sample("scandor_surface_duration_seconds", base, Value(r.durationSeconds));
    w.Sample("scandor_surface_completed", base, r.completed ? "1" : "0");
}

// The newest record of every identity.
std::map<std::string, ScanRecord> LatestScans(platform::Platform& p) {
    std::map<std::string, ScanRecord> latest;
    for (const std::string& text : p.LoadScanRecords()) {
        const std::optional<ScanRecord> r = ParseScanRecord(text);
        if (!r) continue;
        auto it = latest.find(r->id);
        if (it == latest.end() || it->second.startUnix < r->startUnix) latest[r->id] = *r;
    }
    return latest;
}

}  // namespace

std::string MetricsText(platform::Platform& p, bool& foundDrives) {
    const auto began = std::chrono::steady_clock::now();
    exposition::Writer w;
    DeclareFamilies(w);
    const std::map<std::string, ScanRecord> scans = LatestScans(p);
    const std::vector<int> numbers = PresentDriveNumbers(p);
    for (int n : numbers) {
        const CheckedDrive d = CheckDrive(p, n);
        const Labels base = {{"drive", std::to_string(n)}, {"id", d.id}};
        const TSmartResult& r = d.smart.result;
        const bool tested = d.error.empty();
        Labels info = base;
        info.emplace_back("device", d.path);
        info.emplace_back("model", tested && !r.ModelNumber.empty() ? r.ModelNumber : d.stable.model);
        info.emplace_back("serial", tested && !r.SerialNumber.empty() ? r.SerialNumber : d.stable.serial);
        info.emplace_back("firmware", tested ? r.FirmwareRevision : "");
        info.emplace_back("interface", d.smart.nvme ? "NVMe" : d.stable.interfaceType);
        w.Sample("scandor_drive_info", info, "1");
        if (tested) {
            SmartMetrics(w, base, d.smart);
        } else {
            Labels l = base;
            l.emplace_back("reason", d.error);
            w.Sample("scandor_drive_error", l, "1");
            std::cerr << "scandor-cli: drive " << n << ": " << Printable(d.errorText) << '\n';
        }
        if (auto it = scans.find(d.id); !d.id.empty() && it != scans.end()) SurfaceMetrics(w, base, it->second);
    }
    foundDrives = !numbers.empty();
    w.Sample("scandor_metrics_success", {}, foundDrives ? "1" : "0");
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    w.Sample("scandor_metrics_duration_seconds", {}, Number(seconds));
    return w.Text();
}

int MetricsCommand(platform::Platform& p, const Options& o) {
    bool found = false;
    const std::string text = MetricsText(p, found);
    if (o.textfileDir.empty()) {
        std::cout << text << std::flush;
        return found ? ExitHealthy : ExitUnreadable;
    }
    const std::string dir = std::filesystem::absolute(o.textfileDir).string();
    if (!StoreTextfile(dir, "scandor.prom", text)) {
        const int e = errno;
        std::cerr << "scandor-cli: " << Printable(dir) << "/scandor.prom cannot be written: " << std::strerror(e)
                  << '\n';
        return ExitUnreadable;
    }
    return found ? ExitHealthy : ExitUnreadable;
}

}  // namespace cli
