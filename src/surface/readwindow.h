// The sector reader's window of reads in flight: while the run handles one block,
// the next ones are already being read. Results come back one block at a time,
// in block order, each with the time the device took for it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

class TSectorReader;

struct BlockRead {
    int32_t status = 0;   // as ReadSectorBlock: 0 read, else failed
    uint32_t error = 0;   // the system error of a failed read, 0 when none is known
    uint32_t micros = 0;  // the device's time for this block
};

class TReadWindow {
public:
    static constexpr uint32_t MaxDepth = 256;

    // depth: reads kept in flight (1 to MaxDepth).
    TReadWindow(platform::Platform& platform, TSectorReader& reader, uint32_t depth);
    ~TReadWindow();
    TReadWindow(const TReadWindow&) = delete;
    TReadWindow& operator=(const TReadWindow&) = delete;

    // After the reader is open: the blocks from sector 0 while below endSector.
    // Without overlapped reads the window reads one block at a time.
    void Start(int64_t endSector);
    bool Overlapped() const { return overlapped_; }
    // "io_uring, 32 reads in flight", "one read at a time".
    std::string Describe() const;
    // The block at sector, which must follow the one before; its reads ahead are
    // issued first.
    BlockRead Next(int64_t sector);
    // No read is issued after this; those in flight are cancelled where the
    // system allows, else awaited, and their results dropped.
    void Stop();
    uint32_t InFlight() const { return inFlight_; }

private:
    struct Slot {
        int64_t block = -1;
        bool done = false;
        bool queued = false;  // false: the read could not be queued at all
        uint64_t submittedUs = 0;
        uint64_t sinceUs = 0;  // when the device began on it, as far as can be told
        platform::ReadCompletion completion;
    };
    void Issue(int64_t block);
    bool TakeCompletion();
    BlockRead ReadAlone(int64_t sector);
    // Completions this close came from one request as far as anyone can tell.
    static constexpr uint64_t TogetherUs = 500;
    static bool Together(uint64_t aUs, uint64_t bUs);
    bool NextFailsWith(int64_t block, uint64_t atUs);

    platform::Platform& platform_;
    TSectorReader& reader_;
    uint32_t depth_;
    bool overlapped_ = false;
    std::string kind_;
    uint8_t* buffers_ = nullptr;
    std::vector<Slot> slots_;
    int64_t endBlock_ = 0;
    int64_t nextIssue_ = 0;
    int64_t nextHanded_ = 0;
    uint32_t inFlight_ = 0;
    uint64_t lastCompletedUs_ = 0;  // the latest completion seen, of any block
    bool prevFailed_ = false;  // the block handed last failed in flight
    uint64_t prevFailedUs_ = 0;
};
