#include "drive/format.h"

#include <clocale>

std::string LocaleDecimalSeparator() {
    const lconv* lc = std::localeconv();
    if (!lc || !lc->decimal_point || !*lc->decimal_point) return ".";
    return lc->decimal_point;
}

namespace {
std::string& SizeSeparator() {
    static std::string separator;
    return separator;
}
}  // namespace

void SetSizeDecimalSeparator(const std::string& separator) { SizeSeparator() = separator; }

std::string FormatSize(int64_t bytes) {
    const std::string& set = SizeSeparator();
    return FormatSize(bytes, set.empty() ? LocaleDecimalSeparator() : set);
}

std::string FormatSize(int64_t bytes, const std::string& decimalSeparator) {
    static const char* const units[] = {"  bytes ", " KBytes ", " MBytes ", " GBytes ", " TBytes "};
    const int64_t q1 = bytes / 1024, q2 = q1 / 1024, q3 = q2 / 1024, q4 = q3 / 1024;
    const int unit = q1 <= 0 ? 0 : q2 <= 0 ? 1 : q3 <= 0 ? 2 : q4 <= 0 ? 3 : 4;
    // Exact integer arithmetic, so an exact half (1152 bytes = 1.125 KBytes) rounds
    // away from zero as people round, and 1048575 bytes is "1024.00 KBytes ".
    const uint64_t divisor = uint64_t{1} << (10 * unit);
    const uint64_t magnitude = bytes < 0 ? uint64_t{0} - static_cast<uint64_t>(bytes) : static_cast<uint64_t>(bytes);
    uint64_t whole = magnitude / divisor;
    const uint64_t scaled = magnitude % divisor * 100;  // below 2^47
    uint64_t hundredths = scaled / divisor;
    if (2 * (scaled % divisor) >= divisor) ++hundredths;
    if (hundredths == 100) {
        ++whole;
        hundredths = 0;
    }
    std::string number = (bytes < 0 ? "-" : "") + std::to_string(whole) + decimalSeparator +
                         static_cast<char>('0' + hundredths / 10) + static_cast<char>('0' + hundredths % 10);
    if (number.size() < 4) number.insert(0, 4 - number.size(), ' ');
    return number + units[unit];
}

std::string FormatDuration(bool showSeconds, int64_t seconds) {
    auto n = [](int64_t v) { return std::to_string(v); };
    if (seconds > 3600) {
        int64_t h = seconds / 3600, rest = seconds % 3600;
        if (showSeconds) return n(h) + " h " + n(rest / 60) + " min " + n(rest % 60) + " sec";
        return n(h) + " h " + n(rest / 60) + " min";
    }
    if (seconds > 60) {
        if (showSeconds) return n(seconds / 60) + " min " + n(seconds % 60) + " sec";
        return n(seconds / 60) + " min";
    }
    return showSeconds ? n(seconds) + " sec" : std::string("<1 min");
}
