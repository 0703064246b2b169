// libFuzzer target: the reader of SMART sample dumps (tagged records: IDFY, SMDT,
// SMTH) as a simulated drive serves them to the S.M.A.R.T. code. A dump either is
// refused as truncated or gives the identification of its last IDFY record.
#include <map>
#include <stdexcept>

#include "platform/sim/sim_platform.h"
#include "scratch_dir.h"
#include "smart/smartapi.h"

using namespace platform;

namespace {

// The records a well-formed dump holds; nullopt when one is cut short.
std::optional<std::map<std::string, std::string>> Records(std::string_view b) {
    std::map<std::string, std::string> out;
    size_t at = 0;
    while (at + 8 <= b.size()) {
        const auto byte = [&](size_t k) { return static_cast<uint32_t>(static_cast<unsigned char>(b[at + k])); };
        const uint32_t len = byte(4) << 24 | byte(5) << 16 | byte(6) << 8 | byte(7);
        if (len > b.size() - at - 8) return std::nullopt;
        out[std::string(b.substr(at, 4))] = std::string(b.substr(at + 8, len));
        at += 8 + len;
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view blob = AsText(data, size);
    WriteScratchFile("drive.blob", blob);
    static const auto machine = sim::SimPlatform::FromJsonText(
        R"({"drives": [{"path": "\\\\.\\PhysicalDrive0",
                        "ide": {"positions": {"0": {"sample": "drive.blob"}}}}]})",
        ScratchDir());

    const auto records = Records(blob);
    std::string error, model, serial;
    int64_t bytes = 0;
    bool identified = false;
    try {
        identified = IdentifyAtaDrive(*machine, 0, error, model, serial, bytes);
        FUZZ_CHECK(records.has_value());
    } catch (const std::runtime_error&) {
        FUZZ_CHECK(!records.has_value());
        return 0;
    }
    const auto idfy = records->find("IDFY");
    FUZZ_CHECK(identified == (idfy != records->end()));
    if (identified) {
        std::string sector = idfy->second.substr(0, 512);
        sector.resize(512, '\0');
        const auto* id = reinterpret_cast<const uint8_t*>(sector.data());
        FUZZ_CHECK(model == DeviceText(SwapAtaString(id + 54, 40)));
        FUZZ_CHECK(serial == DeviceText(SwapAtaString(id + 20, 20)));
    }

    TSmartResult r;
    const bool read = ReadSmartData(*machine, 0, r, error);
    if (read) {
        FUZZ_CHECK(identified && records->count("SMDT") == 1);
        FUZZ_CHECK(r.AttributeCount >= 0 && r.AttributeCount <= 30);
    } else {
        FUZZ_CHECK(!error.empty());
    }
    return 0;
}
