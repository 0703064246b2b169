// The S.M.A.R.T. page's texts: grouped raw values and the printable report.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Decimal text with the separator between groups of three digits from the right.
// A negative number keeps its sign in front of the grouped digits: -1,234,567.
std::string IntToStrGrouped(int32_t value, const std::string& separator);

struct SmartReportInput {
    std::string resInfo;
    std::string dateTime;          // short date, a blank, long time
    std::string computer, user, ip;
    std::string summary[3];        // the captions of the three summary rows
    std::string columns[7];        // the list's column captions
    struct Row { std::string name, state, current, worst, threshold, raw; };
    std::vector<Row> attributes;   // rows 3 onward
    std::string webAddress;
};

// The report's lines, in order.
std::vector<std::string> BuildSmartReport(const SmartReportInput& in);
