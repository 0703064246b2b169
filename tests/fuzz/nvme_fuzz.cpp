// libFuzzer target: the NVMe health-log and Identify decoders, the rating table
// and the protocol query's allow-list, on any bytes. Each buffer has exactly its
// own length, so a read past it trips AddressSanitizer.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/nvmequery.h"
#include "smart/nvmehealth.h"
#include "smart/smartcatalog.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> bytes(data, data + size);
    const NvmeHealthLog log = DecodeNvmeHealthLog(bytes.data(), bytes.size());
    NvmeIdentity id;
    DecodeNvmeIdentifyController(bytes.data(), bytes.size(), id);
    if (id.model.size() > 40 || id.serial.size() > 20 || id.firmware.size() > 8) __builtin_trap();
    if (DecodeNvmeNamespaceSize(bytes.data(), bytes.size()) < 0) __builtin_trap();

    const NvmeRating r = RateNvmeHealth(log, id);
    int failed = 0, warned = 0;
    if (r.rows.size() < 18 || r.rows.size() > 26) __builtin_trap();
    for (const NvmeRow& row : r.rows) {
        failed += row.state == SmartStatusFailingNow;
        warned += row.state == SmartStatusWarning;
        if (row.state == SmartStatusFailedInPast) __builtin_trap();
        if (row.bar && (row.barPosition < 0 || row.barPosition > row.barMaximum)) __builtin_trap();
        if (DecimalText(row.raw).empty() || DecimalText(row.raw).size() > 39) __builtin_trap();
    }
    if (failed != r.failedCount || warned != r.warningCount) __builtin_trap();
    if ((log.criticalWarning != 0) != (r.rows[0].state == SmartStatusFailingNow)) __builtin_trap();

    // The allow-list: whatever passes names one of the three queries, with its
    // data inside the output buffer.
    if (size >= 4) {
        const uint32_t outSize = static_cast<uint32_t>(data[0] | data[1] << 8) * 8;
        std::vector<uint8_t> in(data + 4, data + size);
        uint32_t err = 0;
        const platform::NvmeRequest q =
            platform::CheckNvmeQuery(in.data(), static_cast<uint32_t>(in.size()), outSize, &err);
        if (q.kind == platform::NvmeQuery::None) {
            if (err == 0) __builtin_trap();
        } else {
            if (uint64_t{q.dataOffset} + q.dataLength > outSize || in.size() < platform::NvmeQueryHeadSize)
                __builtin_trap();
            if (q.dataLength != (q.kind == platform::NvmeQuery::HealthLog ? 512u : 4096u)) __builtin_trap();
        }
    }
    return 0;
}
