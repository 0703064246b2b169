// The NVMe side of the S.M.A.R.T. test: Identify Controller / Namespace and the
// SMART / Health Information log page decoded by their byte offsets, and the
// table of rules that rates the log's fields.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// An unsigned 128-bit counter of the health log, kept whole.
struct Uint128 {
    uint64_t lo = 0, hi = 0;
    bool operator==(const Uint128&) const = default;
};
// Exact decimal text.
std::string DecimalText(Uint128 v);
// The value, or 2^64-1 when it does not fit 64 bits.
uint64_t Saturated(Uint128 v);
// Decimal text with the separator between groups of three digits from the right.
std::string GroupedText(Uint128 v, const std::string& separator);

struct NvmeIdentity {
    std::string model, serial, firmware;   // 8-bit text as the drive stores it, trimmed
    uint16_t warningTemperature = 0;       // WCTEMP, kelvin; 0: not reported
    uint16_t criticalTemperature = 0;      // CCTEMP, kelvin; 0: not reported
    int64_t sizeBytes = 0;                 // NSZE x LBA data size; 0 when unknown
};

// Shorter buffers read as if padded with zeros, so no input reads outside them.
void DecodeNvmeIdentifyController(const uint8_t* data, size_t size, NvmeIdentity& id);
// NSZE times the data size of the formatted LBA format; 0 when it does not fit 63 bits.
int64_t DecodeNvmeNamespaceSize(const uint8_t* data, size_t size);

struct NvmeHealthLog {
    uint8_t criticalWarning = 0;
    uint16_t compositeTemperature = 0;     // kelvin
    uint8_t availableSpare = 0;
    uint8_t availableSpareThreshold = 0;
    uint8_t percentageUsed = 0;
    uint8_t enduranceGroupCriticalWarning = 0;
    Uint128 dataUnitsRead, dataUnitsWritten, hostReadCommands, hostWriteCommands, controllerBusyTime,
        powerCycles, powerOnHours, unsafeShutdowns, mediaErrors, errorLogEntries;
    uint32_t warningTemperatureTime = 0;   // minutes
    uint32_t criticalTemperatureTime = 0;
    uint16_t temperatureSensors[8] = {};   // kelvin; 0: not reported
};

NvmeHealthLog DecodeNvmeHealthLog(const uint8_t* page, size_t size);

inline int KelvinToCelsius(uint16_t kelvin) { return static_cast<int>(kelvin) - 273; }

// The names of the critical-warning bits that are set, comma-separated.
std::string NvmeCriticalWarningText(uint8_t bits);

// One field of the log as the S.M.A.R.T. page shows it.
struct NvmeRow {
    std::string name;            // the field's name
    std::string caption;         // the name; the critical warning also names its bits
    int offset = 0;              // byte offset in the log page
    std::string state;           // one of the rating texts of the catalogue
    Uint128 raw;                 // the field as stored
    int64_t current = 0;         // the value shown (°C for temperatures), saturated
    std::string currentText;     // the value shown, exact
    bool celsius = false;        // current is a temperature in °C, not the raw value
    bool hasThreshold = false;
    int threshold = 0;           // spare threshold, or WCTEMP in °C
    bool bar = false;
    int barMaximum = 100, barPosition = 0;
    bool temperature = false;
};

struct NvmeRating {
    std::vector<NvmeRow> rows;
    int32_t failedCount = 0;
    int32_t warningCount = 0;
};

// One row per field, rated by the field's rule. Sensors that report 0 are left out.
NvmeRating RateNvmeHealth(const NvmeHealthLog& log, const NvmeIdentity& id);
