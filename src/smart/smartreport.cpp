#include "smart/smartreport.h"

std::string IntToStrGrouped(int32_t value, const std::string& separator) {
    const bool negative = value < 0;
    // Through 64 bits, so the smallest 32-bit number has a magnitude too.
    std::string digits = std::to_string(negative ? -int64_t(value) : int64_t(value));
    std::string out;
    const size_t n = digits.size();
    for (size_t i = 0; i < n; ++i) {
        if (i > 0 && (n - i) % 3 == 0) out += separator;
        out += digits[i];
    }
    return negative ? "-" + out : out;
}

std::vector<std::string> BuildSmartReport(const SmartReportInput& in) {
    const std::string dashes17(17, '-'), dashes18(18, '-');
    std::vector<std::string> lines = {
        "Drive Test Report",
        in.resInfo,
        in.dateTime,
        dashes17,
        "Computer: " + in.computer,
        "User: " + in.user,
        "IP: " + in.ip,
        dashes18,
        "** SMART Values **",
        dashes18,
        in.summary[0],
        in.summary[1],
        in.summary[2],
        dashes18,
        "",
    };
    std::string header;
    for (int c : {0, 1, 3, 4, 5, 6}) header += in.columns[c] + "\t";
    lines.push_back(header);
    lines.push_back("");
    lines.push_back(std::string(76, '_'));
    for (const auto& r : in.attributes)
        lines.push_back(r.name + " \t" + r.state + "\t" + r.current + "\t" + r.worst + "\t" + r.threshold +
                        "\t" + r.raw);
    lines.push_back("");
    lines.push_back("This report was generate with \"KAVENO Scandor\"");
    lines.push_back(in.webAddress);
    return lines;
}
