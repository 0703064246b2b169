// The WQL the program sends, and its evaluation over a set of objects.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace platform::wql {

// SELECT * | prop[, prop...] FROM class [WHERE prop = 'text' | "text"], keywords
// in any case; a backslash in the literal takes the next character as it is.
struct WqlQuery {
    bool allProperties = false;
    std::vector<std::string> properties;
    std::string className;
    std::optional<std::string> whereProperty;
    std::string whereValue;
};
std::optional<WqlQuery> ParseWql(std::string_view text);

bool SameText(std::string_view a, std::string_view b);

// Answers a query in namespace root\CIMV2 on class Win32_DiskDrive from the
// objects given. With a schema (an object holding every property of the class), a
// property the schema lacks fails the query; without one, an object simply lacks
// the properties it does not hold. WHERE compares text values without regard to case.
WmiQueryResult Answer(const std::string& nameSpace, const std::string& wql,
                      std::vector<WmiObject> objects, const WmiObject* schema);

}  // namespace platform::wql
