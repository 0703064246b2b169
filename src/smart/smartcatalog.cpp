#include "smart/smartcatalog.h"

namespace {

constexpr const char* LowNames[] = {
    "Read Error Rate",          "Throughput Performance", "Spin Up Time",
    "Start/Stop Count",         "Reallocated Sector Count", "Read Channel Margin",
    "Seek Error Rate",          "Seek Time Performance",  "Power On Hours",
    "Spin Retry Count",         "Calibration Retry Count", "Power Cycle Count",
    "Soft Read Error Rate",
};

constexpr const char* HighNames[] = {
    "SATA Downshift Error Count", "End to End Error",          "Head Stability",
    "Induced Op-Vibration Detection", "Reported Uncorrectable Errors", "Command Timeout",
    "High Fly Writes",            "Airflow Temperatur",         "G-Sense Error Rate",
    "Emergency Retract Cycle",    "Load Cycle Count",           "Temperature Celcius",
    "Hardware ECC Recovered",     "Reallocation Event Count",   "Current Pending Sector",
    "Uncorrectable Sector Count", "Ultra ATA CRC Error Rate",   "Write Error Rate",
    "Off Track Errors",           "Data Address Mark errors",   "ECC Errors",
    "Soft ECC Correction",        "Thermal Asperity Rate",      "Flying Height",
    "Spin High Current",          "Spin Buzz",                  "Offline Seek Perf",
};

static_assert(sizeof(LowNames) / sizeof(LowNames[0]) == 13);
static_assert(sizeof(HighNames) / sizeof(HighNames[0]) == 209 - 183 + 1);

// Byte at offset of a block; zero past its end.
uint8_t At(const uint8_t* block, size_t size, size_t offset) {
    return block && offset < size ? block[offset] : 0;
}

constexpr int64_t Int32Max = 2147483647;

}  // namespace

std::string SmartAttributeNames(int id) {
    if (id >= 1 && id <= 13) return LowNames[id - 1];
    if (id >= 183 && id <= 209) return HighNames[id - 183];
    return "Unknown";
}

void ResetSmartResult(TSmartResult& r) { r = TSmartResult{}; }

void RateSmartSlot(TSmartResult& r, int i, int normalValue) {
    if (i < 0 || i >= SmartSlotCount) return;
    r.AttributeStatus[i] = SmartStatusNotRated;
    const int threshold = r.ThresholdValue[i];
    if (!r.PreFailure[i] || threshold == 0) return;
    const int current = r.CurrentValue[i];
    const int worst = r.WorstValue[i];
    // A normalised value that has reached its threshold has failed: the ATA
    // standard and the drive's own verdict count "less than or equal".
    if (threshold >= current) {
        r.AttributeStatus[i] = SmartStatusFailingNow;
        ++r.FailedCount;
    } else if (threshold >= worst) {
        r.AttributeStatus[i] = SmartStatusFailedInPast;
        ++r.FailedCount;
    } else if (current < threshold + (normalValue - threshold) / 2) {
        r.AttributeStatus[i] = SmartStatusWarning;
        ++r.WarningCount;
    } else if (r.AttributeId[i] == 5 && r.RawValue[i] > 500) {
        r.AttributeStatus[i] = SmartStatusWarning;
        ++r.WarningCount;
    } else {
        r.AttributeStatus[i] = SmartStatusOk;
    }
}

void ScanSmartBlocks(const uint8_t* attributes, size_t attributesSize, const uint8_t* thresholds,
                     size_t thresholdsSize, TSmartResult& r) {
    for (int s = 0; s < SmartSlotCount; ++s) {
        r.AttributeId[s] = 0;
        r.AttributeName[s].clear();
        r.PreFailure[s] = r.EventCount[s] = r.ErrorRate[s] = false;
        r.CurrentValue[s] = r.WorstValue[s] = r.ThresholdValue[s] = 0;
        r.RawValue[s] = 0;
        r.AttributeStatus[s].clear();
    }
    r.TemperatureCurrent = r.TemperatureMax = r.TemperatureMin = 0;
    r.PowerOnHours = r.ReallocatedSectors = r.PowerCycles = 0;
    r.FailedCount = r.WarningCount = r.AttributeCount = 0;

    int normalValue = 100;
    int i = 0;
    for (int k = 0; k < SmartEntryCount; ++k) {
        const size_t e = 2 + 12 * static_cast<size_t>(k);
        auto a = [&](size_t off) { return At(attributes, attributesSize, e + off); };
        const int id = a(0);
        if (id == 0) break;

        r.AttributeName[i] = SmartAttributeNames(id);
        r.AttributeId[i] = id;
        const unsigned flags = a(1) | (a(2) << 8);
        r.PreFailure[i] = (flags & 0x01) != 0;
        r.ErrorRate[i] = (flags & 0x08) != 0;
        r.EventCount[i] = (flags & 0x10) != 0;
        r.CurrentValue[i] = a(3);
        r.WorstValue[i] = a(4);
        r.ThresholdValue[i] = At(thresholds, thresholdsSize, e + 1);
        int64_t raw = 0;
        for (int b = 5; b >= 0; --b) raw = (raw << 8) | a(5 + static_cast<size_t>(b));
        r.RawValue[i] = raw;

        if (raw > 0 && raw < Int32Max) {
            if (id == 5) r.ReallocatedSectors = static_cast<int32_t>(raw);
            if (id == 9) r.PowerOnHours = static_cast<int32_t>(raw / 60 + 1);
            if (id == 12) r.PowerCycles = static_cast<int32_t>(raw);
        }
        if ((id == 3 || id == 4) && r.CurrentValue[i] > 230) normalValue = 253;

        RateSmartSlot(r, i, normalValue);

        if (id == 194) {
            r.TemperatureCurrent = a(5);
            r.TemperatureMin = a(7);
            r.TemperatureMax = a(9);
            if (r.TemperatureCurrent == r.CurrentValue[i]) r.TemperatureMax = r.WorstValue[i];
        }
        ++i;
    }
    r.AttributeCount = i;
}
