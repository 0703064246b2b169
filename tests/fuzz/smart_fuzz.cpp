// libFuzzer target: the SMART block parser, the IDENTIFY text swap and the
// reading of pass-through sense data, on any bytes. Each part gets a buffer of
// exactly its own length, so a read past it trips AddressSanitizer.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/linux/sat.h"
#include "smart/smartapi.h"
#include "smart/smartcatalog.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const size_t split = size > 0 ? data[0] * size / 256 : 0;
    std::vector<uint8_t> attrs(data, data + split);
    std::vector<uint8_t> thresholds(data + split, data + size);

    TSmartResult r;
    ResetSmartResult(r);
    ScanSmartBlocks(attrs.data(), attrs.size(), thresholds.data(), thresholds.size(), r);
    int failed = 0, warned = 0;
    if (r.AttributeCount < 0 || r.AttributeCount > 30) __builtin_trap();
    for (int i = 0; i < r.AttributeCount; ++i) {
        const std::string& s = r.AttributeStatus[i];
        if (s != "-" && (!r.PreFailure[i] || r.ThresholdValue[i] == 0)) __builtin_trap();
        if (r.RawValue[i] < 0 || r.RawValue[i] >= (int64_t{1} << 48)) __builtin_trap();
        failed += s == "Failing Now" || s == "Failed In Past";
        warned += s == "Warning";
    }
    if (failed != r.FailedCount || warned != r.WarningCount) __builtin_trap();

    std::vector<uint8_t> text(data, data + size);
    const std::string swapped = SwapAtaString(text.data(), text.size());
    if (swapped.size() > size) __builtin_trap();
    if (!swapped.empty() && (static_cast<unsigned char>(swapped.front()) <= 0x20 ||
                             static_cast<unsigned char>(swapped.back()) <= 0x20))
        __builtin_trap();

    if (size > 0) {
        std::vector<uint8_t> sense(data + 1, data + size);
        platform::linuxbe::JudgeSat(data[0], sense.data(), sense.size());
    }
    return 0;
}
