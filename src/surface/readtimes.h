// How long each block took: seven classes counted, and the slow blocks listed up
// to a cap, so nothing grows with the size of the drive.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

enum ReadClass : uint8_t {
    Under5ms,
    Under20ms,
    Under50ms,
    Under150ms,
    Under500ms,
    AtLeast500ms,
    ReadFailed,
    ReadClassCount
};

// The class of a block; a failed block is only ReadFailed, however long it took.
ReadClass ClassOfRead(bool failed, uint32_t micros);
// "under5ms", ... "failed": the JSON keys.
const char* ReadClassKey(ReadClass c);
// "under 5 ms", ... "failed": the text lines.
const char* ReadClassLabel(ReadClass c);

struct SlowBlock {
    int64_t sector = 0;
    uint32_t ms = 0;
};

class TReadTimes {
public:
    static constexpr uint32_t SlowMs = 150;
    static constexpr size_t SlowListCap = 1000;

    void Add(int64_t sector, bool failed, uint32_t micros);
    const std::array<int64_t, ReadClassCount>& Counts() const { return counts_; }
    int64_t Blocks() const;
    // Blocks read successfully in at least SlowMs, the first SlowListCap in sector order.
    const std::vector<SlowBlock>& Slow() const { return slow_; }
    bool SlowTruncated() const { return truncated_; }

private:
    std::array<int64_t, ReadClassCount> counts_{};
    std::vector<SlowBlock> slow_;
    bool truncated_ = false;
};
