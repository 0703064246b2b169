#include "drive/stableid.h"

#include <cstdint>
#include <cstdio>

#include "platform/platform.h"

namespace {

std::string TextOf(const platform::WmiObject& o, const char* name) {
    const platform::WmiProperty* p = o.Find(name);
    if (!p || p->value.kind != platform::WmiValue::Text || p->value.isArray || p->value.texts.empty()) return {};
    return p->value.texts[0];
}

std::string Trimmed(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.pop_back();
    size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    return s.substr(i);
}

}  // namespace

std::string DriveStableId::Label() const {
    if (!wwn.empty()) return wwn;
    if (!model.empty() && !serial.empty()) return model + "_" + serial;
    if (!byIdNames.empty()) return byIdNames.front();
    return {};
}

DriveStableId QueryDriveStableId(platform::Platform& platform, int driveNumber) {
    DriveStableId id;
    // Backslashes doubled, as WQL string literals need them.
    const std::string wql = "SELECT * FROM Win32_DiskDrive WHERE Name = \"\\\\\\\\.\\\\PHYSICALDRIVE" +
                            std::to_string(driveNumber) + "\"";
    const platform::WmiQueryResult r = platform.WmiExecQuery("root\\cimv2", wql);
    if (!r.ok || r.objects.size() != 1) return id;
    const platform::WmiObject& o = r.objects[0];
    id.found = true;
    id.model = Trimmed(TextOf(o, "Model"));
    id.serial = Trimmed(TextOf(o, "SerialNumber"));
    id.interfaceType = TextOf(o, "InterfaceType");
    id.wwn = Trimmed(TextOf(o, "WWN"));
    if (const platform::WmiProperty* p = o.Find("ByIdNames");
        p && p->value.kind == platform::WmiValue::Text && p->value.isArray)
        for (const std::string& n : p->value.texts)
            if (!n.empty()) id.byIdNames.push_back(n);
    return id;
}

std::string ScanRecordKey(const std::string& label) {
    std::string key;
    for (char c : label) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
                        c == '_' || c == '-';
        key += ok ? c : '_';
    }
    if (key == "." || key == "..") key.assign(key.size(), '_');  // names of folders, not files
    if (key.size() > 128) {
        uint64_t h = 1469598103934665603ull;  // FNV-1a
        for (unsigned char c : label) h = (h ^ c) * 1099511628211ull;
        char hex[17];
        std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(h));
        key = key.substr(0, 128 - 17) + "-" + hex;
    }
    return key;
}
