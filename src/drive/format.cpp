#include "drive/format.h"

#include <charconv>
#include <clocale>

std::string LocaleDecimalSeparator() {
    const lconv* lc = std::localeconv();
    if (!lc || !lc->decimal_point || !*lc->decimal_point) return ".";
    return lc->decimal_point;
}

std::string FormatSize(int64_t bytes) { return FormatSize(bytes, LocaleDecimalSeparator()); }

std::string FormatSize(int64_t bytes, const std::string& decimalSeparator) {
    static const char* const units[] = {"  bytes ", " KBytes ", " MBytes ", " GBytes ", " TBytes "};
    // The unit is chosen by integer quotients, the value by repeated division in
    // extended precision, so 1048575 bytes is "1024.00 KBytes ".
    const int64_t q1 = bytes / 1024, q2 = q1 / 1024, q3 = q2 / 1024, q4 = q3 / 1024;
    int unit = q1 <= 0 ? 0 : q2 <= 0 ? 1 : q3 <= 0 ? 2 : q4 <= 0 ? 3 : 4;
    long double value = static_cast<long double>(bytes);
    for (int i = 0; i < unit; ++i) value /= 1024.0L;

    // to_chars is locale-independent: it always writes '.', which is then replaced.
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 2);
    std::string number(buf, res.ptr);
    if (auto dot = number.find('.'); dot != std::string::npos)
        number.replace(dot, 1, decimalSeparator);
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
