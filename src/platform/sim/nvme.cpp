// NVMe answers of simulated drives (the "nvme" section of a drive in the
// manifest, docs/machine-manifest.md).
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <vector>

#include "platform/nvmequery.h"
#include "platform/sim/sim_platform.h"

namespace platform::sim {

namespace {

[[noreturn]] void Bad(const std::string& what) { throw std::runtime_error("machine manifest: " + what); }

std::vector<uint8_t> PageFromHex(const std::string& text, size_t size) {
    std::vector<uint8_t> out;
    int hi = -1;
    for (char c : text) {
        int v;
        if (c >= '0' && c <= '9') v = c - '0';
        else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
        else if (c == ' ' || c == '\n' || c == '\t' || c == ':') continue;
        else Bad("not a hex digit in an nvme page");
        if (hi < 0) {
            hi = v;
        } else {
            out.push_back(static_cast<uint8_t>(hi << 4 | v));
            hi = -1;
        }
    }
    if (hi >= 0) Bad("odd number of hex digits in an nvme page");
    if (out.size() > size) Bad("nvme page longer than " + std::to_string(size) + " bytes");
    out.resize(size, 0);
    return out;
}

void PutLe(std::vector<uint8_t>& page, size_t offset, size_t width, uint64_t v) {
    for (size_t i = 0; i < width && i < 8; ++i) page[offset + i] = static_cast<uint8_t>(v >> (8 * i));
}

// A counter: a number, or decimal text for values beyond 64 bits (kept to 128).
void PutCounter(std::vector<uint8_t>& page, size_t offset, const Json& v) {
    if (v.is_number_unsigned() || v.is_number_integer()) {
        PutLe(page, offset, 16, v.get<uint64_t>());
        return;
    }
    if (!v.is_string()) Bad("an nvme counter is a number or decimal text");
    uint8_t bytes[16] = {};
    const std::string text = v.get<std::string>();
    if (text.empty()) Bad("empty nvme counter");
    for (char c : text) {
        if (c < '0' || c > '9') Bad("nvme counter \"" + text + "\" is not decimal");
        unsigned carry = static_cast<unsigned>(c - '0');
        for (uint8_t& b : bytes) {
            const unsigned x = b * 10u + carry;
            b = static_cast<uint8_t>(x);
            carry = x >> 8;
        }
        if (carry) Bad("nvme counter \"" + text + "\" does not fit 128 bits");
    }
    std::copy(std::begin(bytes), std::end(bytes), page.begin() + static_cast<std::ptrdiff_t>(offset));
}

void PutText(std::vector<uint8_t>& page, size_t offset, size_t width, const std::string& text) {
    for (size_t i = 0; i < width; ++i) page[offset + i] = i < text.size() ? static_cast<uint8_t>(text[i]) : ' ';
}

std::vector<uint8_t> ControllerPage(const Json& n) {
    if (n.contains("controllerHex")) return PageFromHex(n["controllerHex"].get<std::string>(), NvmeIdentifySize);
    std::vector<uint8_t> page(NvmeIdentifySize, 0);
    PutText(page, 4, 20, n.value("serial", ""));
    PutText(page, 24, 40, n.value("model", ""));
    PutText(page, 64, 8, n.value("firmware", ""));
    PutLe(page, 266, 2, n.value("wctemp", uint64_t{0}));
    PutLe(page, 268, 2, n.value("cctemp", uint64_t{0}));
    PutLe(page, 516, 4, 1);  // one namespace
    return page;
}

std::vector<uint8_t> NamespacePage(const Json& n) {
    if (n.contains("namespaceHex")) return PageFromHex(n["namespaceHex"].get<std::string>(), NvmeIdentifySize);
    std::vector<uint8_t> page(NvmeIdentifySize, 0);
    const uint64_t nsze = n.value("nsze", uint64_t{0});
    PutLe(page, 0, 8, nsze);
    PutLe(page, 8, 8, nsze);
    PutLe(page, 16, 8, nsze);
    // One LBA format, formatted: its data size as a power of two.
    const uint64_t lbaSize = n.value("lbaSize", uint64_t{512});
    unsigned shift = 0;
    while (shift < 63 && (uint64_t{1} << shift) < lbaSize) ++shift;
    page[128 + 2] = static_cast<uint8_t>(shift);
    return page;
}

std::vector<uint8_t> HealthPage(const Json& n) {
    const Json& h = n.contains("health") ? n["health"] : Json::object();
    if (h.contains("hex")) return PageFromHex(h["hex"].get<std::string>(), NvmeHealthLogSize);
    std::vector<uint8_t> page(NvmeHealthLogSize, 0);
    page[0] = static_cast<uint8_t>(h.value("criticalWarning", 0u));
    PutLe(page, 1, 2, h.value("compositeTemperature", uint64_t{0}));
    page[3] = static_cast<uint8_t>(h.value("availableSpare", 100u));
    page[4] = static_cast<uint8_t>(h.value("availableSpareThreshold", 10u));
    page[5] = static_cast<uint8_t>(h.value("percentageUsed", 0u));
    page[6] = static_cast<uint8_t>(h.value("enduranceGroupCriticalWarning", 0u));
    static const std::pair<const char*, size_t> counters[] = {
        {"dataUnitsRead", 32},     {"dataUnitsWritten", 48}, {"hostReadCommands", 64},
        {"hostWriteCommands", 80}, {"controllerBusyTime", 96}, {"powerCycles", 112},
        {"powerOnHours", 128},     {"unsafeShutdowns", 144}, {"mediaErrors", 160},
        {"errorLogEntries", 176},
    };
    for (const auto& [key, offset] : counters)
        if (h.contains(key)) PutCounter(page, offset, h[key]);
    PutLe(page, 192, 4, h.value("warningTemperatureTime", uint64_t{0}));
    PutLe(page, 196, 4, h.value("criticalTemperatureTime", uint64_t{0}));
    if (h.contains("temperatureSensors")) {
        const Json& s = h["temperatureSensors"];
        if (!s.is_array() || s.size() > 8) Bad("temperatureSensors is a list of at most 8 kelvin values");
        for (size_t i = 0; i < s.size(); ++i) PutLe(page, 200 + 2 * i, 2, s[i].get<uint64_t>());
    }
    return page;
}

}  // namespace

bool SimPlatform::NvmeControl(SimOpenFile& f, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                              uint32_t* bytesReturned) {
    uint32_t error = 0;
    const NvmeRequest req = CheckNvmeQuery(in, inSize, out ? outSize : 0, &error);
    if (req.kind == NvmeQuery::None) {
        lastError_ = error;
        return false;
    }
    const Json& drive = *DriveOf(f).desc;
    if (!drive.contains("nvme")) {
        // Not an NVMe device: the protocol query is not supported there.
        lastError_ = ENOTTY;
        return false;
    }
    const Json& n = drive["nvme"];
    const char* name = req.kind == NvmeQuery::IdentifyController  ? "identifyController"
                       : req.kind == NvmeQuery::IdentifyNamespace ? "identifyNamespace"
                                                                  : "healthLog";
    if (n.contains("fail") && n["fail"].contains(name)) {
        lastError_ = n["fail"][name].value("error", static_cast<uint32_t>(EIO));
        return false;
    }
    if (req.kind == NvmeQuery::IdentifyNamespace && req.nsid > 1) {
        lastError_ = EINVAL;  // the drive is namespace 1
        return false;
    }
    const std::vector<uint8_t> data = req.kind == NvmeQuery::IdentifyController  ? ControllerPage(n)
                                      : req.kind == NvmeQuery::IdentifyNamespace ? NamespacePage(n)
                                                                                 : HealthPage(n);
    PutNvmeAnswerHead(in, out);
    std::memcpy(static_cast<uint8_t*>(out) + req.dataOffset, data.data(), req.dataLength);
    if (bytesReturned) *bytesReturned = req.dataOffset + req.dataLength;
    return true;
}

}  // namespace platform::sim
