#include "smart/nvmehealth.h"

#include <algorithm>

#include "smart/smartcatalog.h"

namespace {

uint8_t At(const uint8_t* p, size_t size, size_t offset) { return p && offset < size ? p[offset] : 0; }

uint64_t Le(const uint8_t* p, size_t size, size_t offset, size_t width) {
    uint64_t v = 0;
    for (size_t i = width; i-- > 0;) v = (v << 8) | At(p, size, offset + i);
    return v;
}

Uint128 Le128(const uint8_t* p, size_t size, size_t offset) {
    return {Le(p, size, offset, 8), Le(p, size, offset + 8, 8)};
}

bool IsBlank(unsigned char c) { return c <= 0x20; }

// NVMe text fields are ASCII padded with blanks; kept as the bytes stand.
std::string Text(const uint8_t* p, size_t size, size_t offset, size_t width) {
    std::string s;
    for (size_t i = 0; i < width; ++i) s.push_back(static_cast<char>(At(p, size, offset + i)));
    size_t b = 0, e = s.size();
    while (b < e && IsBlank(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && IsBlank(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

// The log's fields in page order, each with the rule that rates it.
enum class Rule { None, CriticalWarning, Temperature, Spare, PercentageUsed, MediaErrors };

using Get = Uint128 (*)(const NvmeHealthLog&);

struct Field {
    const char* name;
    uint16_t offset;
    Rule rule;
    Get value;
};

#define SMALL(member) [](const NvmeHealthLog& h) { return Uint128{h.member, 0}; }
#define WIDE(member) [](const NvmeHealthLog& h) { return h.member; }

const Field Fields[] = {
    {"Critical Warning", 0, Rule::CriticalWarning, SMALL(criticalWarning)},
    {"Composite Temperature", 1, Rule::Temperature, SMALL(compositeTemperature)},
    {"Available Spare", 3, Rule::Spare, SMALL(availableSpare)},
    {"Available Spare Threshold", 4, Rule::None, SMALL(availableSpareThreshold)},
    {"Percentage Used", 5, Rule::PercentageUsed, SMALL(percentageUsed)},
    {"Endurance Group Critical Warning Summary", 6, Rule::None, SMALL(enduranceGroupCriticalWarning)},
    {"Data Units Read", 32, Rule::None, WIDE(dataUnitsRead)},
    {"Data Units Written", 48, Rule::None, WIDE(dataUnitsWritten)},
    {"Host Read Commands", 64, Rule::None, WIDE(hostReadCommands)},
    {"Host Write Commands", 80, Rule::None, WIDE(hostWriteCommands)},
    {"Controller Busy Time", 96, Rule::None, WIDE(controllerBusyTime)},
    {"Power Cycles", 112, Rule::None, WIDE(powerCycles)},
    {"Power On Hours", 128, Rule::None, WIDE(powerOnHours)},
    {"Unsafe Shutdowns", 144, Rule::None, WIDE(unsafeShutdowns)},
    {"Media and Data Integrity Errors", 160, Rule::MediaErrors, WIDE(mediaErrors)},
    {"Error Information Log Entries", 176, Rule::None, WIDE(errorLogEntries)},
    {"Warning Composite Temperature Time", 192, Rule::None, SMALL(warningTemperatureTime)},
    {"Critical Composite Temperature Time", 196, Rule::None, SMALL(criticalTemperatureTime)},
};

#undef SMALL
#undef WIDE

constexpr const char* WarningBits[] = {
    "spare below threshold", "temperature",           "reliability degraded",
    "read-only",             "volatile backup failed", "persistent memory read-only",
};

struct Counts {
    int32_t failed = 0, warned = 0;
};

void Set(NvmeRow& row, Counts& c, const char* state) {
    row.state = state;
    if (row.state == SmartStatusFailingNow) ++c.failed;
    if (row.state == SmartStatusWarning) ++c.warned;
}

void Rate(NvmeRow& row, Rule rule, const NvmeHealthLog& log, const NvmeIdentity& id, Counts& c) {
    switch (rule) {
    case Rule::None:
        Set(row, c, SmartStatusNotRated);
        break;
    case Rule::CriticalWarning:
        Set(row, c, log.criticalWarning ? SmartStatusFailingNow : SmartStatusOk);
        break;
    case Rule::Temperature: {
        const uint16_t t = log.compositeTemperature;
        if (id.criticalTemperature == 0 && id.warningTemperature == 0)
            Set(row, c, SmartStatusNotRated);
        else if (id.criticalTemperature != 0 && t >= id.criticalTemperature)
            Set(row, c, SmartStatusFailingNow);
        else if (id.warningTemperature != 0 && t >= id.warningTemperature)
            Set(row, c, SmartStatusWarning);
        else
            Set(row, c, SmartStatusOk);
        break;
    }
    case Rule::Spare: {
        const int spare = log.availableSpare, threshold = log.availableSpareThreshold;
        // A threshold outside 1-100 is no threshold: nothing to rate against.
        if (threshold < 1 || threshold > 100)
            Set(row, c, SmartStatusNotRated);
        else if (spare < threshold)
            Set(row, c, SmartStatusFailingNow);
        else if (spare < threshold + (100 - threshold) / 2)
            Set(row, c, SmartStatusWarning);
        else
            Set(row, c, SmartStatusOk);
        break;
    }
    case Rule::PercentageUsed:
        Set(row, c, log.percentageUsed >= 90 ? SmartStatusWarning : SmartStatusOk);
        break;
    case Rule::MediaErrors:
        Set(row, c, log.mediaErrors == Uint128{} ? SmartStatusOk : SmartStatusWarning);
        break;
    }
}

int64_t Shown(Uint128 v) {
    const uint64_t s = Saturated(v);
    return s > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(s);
}

}  // namespace

std::string DecimalText(Uint128 v) {
    if (v == Uint128{}) return "0";
    // Four 32-bit limbs, most significant first, divided by ten until zero.
    uint32_t limbs[4] = {static_cast<uint32_t>(v.hi >> 32), static_cast<uint32_t>(v.hi),
                         static_cast<uint32_t>(v.lo >> 32), static_cast<uint32_t>(v.lo)};
    std::string digits;
    for (;;) {
        bool zero = true;
        uint64_t rem = 0;
        for (uint32_t& l : limbs) {
            const uint64_t cur = (rem << 32) | l;
            l = static_cast<uint32_t>(cur / 10);
            rem = cur % 10;
            zero = zero && l == 0;
        }
        digits.push_back(static_cast<char>('0' + rem));
        if (zero) break;
    }
    std::reverse(digits.begin(), digits.end());
    return digits;
}

uint64_t Saturated(Uint128 v) { return v.hi ? UINT64_MAX : v.lo; }

std::string GroupedText(Uint128 v, const std::string& separator) {
    const std::string digits = DecimalText(v);
    std::string out;
    const size_t n = digits.size();
    for (size_t i = 0; i < n; ++i) {
        if (i > 0 && (n - i) % 3 == 0) out += separator;
        out += digits[i];
    }
    return out;
}

void DecodeNvmeIdentifyController(const uint8_t* data, size_t size, NvmeIdentity& id) {
    id.serial = Text(data, size, 4, 20);
    id.model = Text(data, size, 24, 40);
    id.firmware = Text(data, size, 64, 8);
    id.warningTemperature = static_cast<uint16_t>(Le(data, size, 266, 2));
    id.criticalTemperature = static_cast<uint16_t>(Le(data, size, 268, 2));
}

int64_t DecodeNvmeNamespaceSize(const uint8_t* data, size_t size) {
    const uint64_t nsze = Le(data, size, 0, 8);
    const uint8_t flbas = At(data, size, 26);
    // Bits 3:0 index the format; bits 6:5 add the high bits beyond 16 formats.
    const size_t format = (flbas & 0x0Fu) | ((flbas & 0x60u) >> 1);
    const unsigned lbads = At(data, size, 128 + 4 * format + 2);
    if (lbads < 9 || lbads > 62) return 0;
    if (nsze > (static_cast<uint64_t>(INT64_MAX) >> lbads)) return 0;
    return static_cast<int64_t>(nsze << lbads);
}

NvmeHealthLog DecodeNvmeHealthLog(const uint8_t* p, size_t n) {
    NvmeHealthLog h;
    h.criticalWarning = At(p, n, 0);
    h.compositeTemperature = static_cast<uint16_t>(Le(p, n, 1, 2));
    h.availableSpare = At(p, n, 3);
    h.availableSpareThreshold = At(p, n, 4);
    h.percentageUsed = At(p, n, 5);
    h.enduranceGroupCriticalWarning = At(p, n, 6);
    h.dataUnitsRead = Le128(p, n, 32);
    h.dataUnitsWritten = Le128(p, n, 48);
    h.hostReadCommands = Le128(p, n, 64);
    h.hostWriteCommands = Le128(p, n, 80);
    h.controllerBusyTime = Le128(p, n, 96);
    h.powerCycles = Le128(p, n, 112);
    h.powerOnHours = Le128(p, n, 128);
    h.unsafeShutdowns = Le128(p, n, 144);
    h.mediaErrors = Le128(p, n, 160);
    h.errorLogEntries = Le128(p, n, 176);
    h.warningTemperatureTime = static_cast<uint32_t>(Le(p, n, 192, 4));
    h.criticalTemperatureTime = static_cast<uint32_t>(Le(p, n, 196, 4));
    for (size_t i = 0; i < 8; ++i) h.temperatureSensors[i] = static_cast<uint16_t>(Le(p, n, 200 + 2 * i, 2));
    return h;
}

std::string NvmeCriticalWarningText(uint8_t bits) {
    std::string s;
    for (size_t b = 0; b < std::size(WarningBits); ++b) {
        if (!(bits & (1u << b))) continue;
        if (!s.empty()) s += ", ";
        s += WarningBits[b];
    }
    if (bits & 0xC0u) s += std::string(s.empty() ? "" : ", ") + "reserved bits";
    return s;
}

NvmeRating RateNvmeHealth(const NvmeHealthLog& log, const NvmeIdentity& id) {
    NvmeRating out;
    Counts c;
    for (const Field& f : Fields) {
        NvmeRow row;
        row.name = row.caption = f.name;
        row.offset = f.offset;
        row.raw = f.value(log);
        row.current = Shown(row.raw);
        row.currentText = DecimalText(row.raw);
        Rate(row, f.rule, log, id, c);
        switch (f.rule) {
        case Rule::CriticalWarning:
            if (log.criticalWarning) row.caption += ": " + NvmeCriticalWarningText(log.criticalWarning);
            break;
        case Rule::Temperature:
            row.current = KelvinToCelsius(log.compositeTemperature);
            row.currentText = std::to_string(row.current);
            row.celsius = true;
            if (id.warningTemperature) {
                row.hasThreshold = true;
                row.threshold = KelvinToCelsius(id.warningTemperature);
            }
            row.temperature = row.bar = true;
            row.barPosition = static_cast<int>(std::clamp<int64_t>(row.current, 0, 255));
            row.barMaximum = row.barPosition > 200 ? 255 : row.barPosition > 100 ? 200 : 100;
            break;
        case Rule::Spare:
            row.hasThreshold = true;
            row.threshold = log.availableSpareThreshold;
            row.bar = true;
            row.barPosition = std::min<int>(log.availableSpare, 100);
            break;
        case Rule::PercentageUsed:
            // The bar shows the life that remains.
            row.bar = true;
            row.barPosition = std::max(0, 100 - static_cast<int>(log.percentageUsed));
            break;
        default:
            break;
        }
        out.rows.push_back(std::move(row));
    }
    for (size_t i = 0; i < 8; ++i) {
        const uint16_t k = log.temperatureSensors[i];
        if (k == 0) continue;
        NvmeRow row;
        row.name = row.caption = "Temperature Sensor " + std::to_string(i + 1);
        row.offset = static_cast<int>(200 + 2 * i);
        row.raw = {k, 0};
        row.current = KelvinToCelsius(k);
        row.currentText = std::to_string(row.current);
        row.celsius = true;
        row.state = SmartStatusNotRated;
        out.rows.push_back(std::move(row));
    }
    out.failedCount = c.failed;
    out.warningCount = c.warned;
    return out;
}
