#include "platform/drivepath.h"

#include <cctype>

namespace platform {

std::optional<int> PhysicalDriveNumber(const std::string& path) {
    static const std::string prefix = "\\\\.\\physicaldrive";
    if (path.size() <= prefix.size() || path.size() > prefix.size() + 9) return std::nullopt;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(path[i])) != prefix[i]) return std::nullopt;
    int n = 0;
    for (size_t i = prefix.size(); i < path.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(path[i]))) return std::nullopt;
        n = n * 10 + (path[i] - '0');
    }
    return n;
}

}  // namespace platform
