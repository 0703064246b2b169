#include "platform/linux/devicemap.h"

#include "platform/drivepath.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <tuple>

namespace platform::linuxbe {
namespace {

namespace fs = std::filesystem;

struct DiskKey {
    int kind;
    size_t nameLength;
    std::string name;
    bool operator<(const DiskKey& o) const {
        return std::tie(kind, nameLength, name) < std::tie(o.kind, o.nameLength, o.name);
    }
};

bool AllOf(const std::string& s, size_t from, int (*pred)(int)) {
    if (from >= s.size()) return false;
    for (size_t i = from; i < s.size(); ++i)
        if (!pred(static_cast<unsigned char>(s[i]))) return false;
    return true;
}

// Kind order of a whole-disk name, or -1 when the name is no physical drive.
int KindOf(const std::string& name, const fs::path& sysBlock) {
    auto letters = [&](const char* prefix) {
        std::string p = prefix;
        return name.rfind(p, 0) == 0 && AllOf(name, p.size(), ::islower);
    };
    if (letters("sd")) return 0;
    if (letters("hd")) return 1;
    if (letters("vd")) return 2;
    if (letters("xvd")) return 3;
    if (name.rfind("nvme", 0) == 0 && name.find('n', 4) != std::string::npos &&
        name.find('p') == std::string::npos)
        return 4;
    if (name.rfind("mmcblk", 0) == 0 && AllOf(name, 6, ::isdigit)) return 5;
    if (name.rfind("loop", 0) == 0 && AllOf(name, 4, ::isdigit)) {
        // An unattached loop device has no backing file and no size.
        std::error_code ec;
        return fs::exists(sysBlock / name / "loop" / "backing_file", ec) ? 6 : -1;
    }
    return -1;
}

}  // namespace

std::vector<std::string> WholeDisks(const std::string& sysBlock) {
    std::vector<DiskKey> keys;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(sysBlock, ec)) {
        std::string name = entry.path().filename().string();
        int kind = KindOf(name, sysBlock);
        if (kind >= 0) keys.push_back({kind, name.size(), name});
    }
    std::sort(keys.begin(), keys.end());
    std::vector<std::string> names;
    for (auto& k : keys) names.push_back(k.name);
    return names;
}

std::optional<std::string> DeviceNodeForPath(const std::string& path, const std::string& sysBlock) {
    if (auto n = platform::PhysicalDriveNumber(path)) {
        auto disks = WholeDisks(sysBlock);
        if (*n < 0 || static_cast<size_t>(*n) >= disks.size()) return std::nullopt;
        return "/dev/" + disks[static_cast<size_t>(*n)];
    }
    if (path.size() == 6 && path.rfind("\\\\.\\", 0) == 0 && path[5] == ':') {
        char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(path[4])));
        if (letter == 'A') return std::string("/dev/fd0");
        if (letter == 'B') return std::string("/dev/fd1");
        return std::nullopt;
    }
    if (!path.empty() && path[0] == '/') return path;
    return std::nullopt;
}

}  // namespace platform::linuxbe
