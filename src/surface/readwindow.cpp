#include "surface/readwindow.h"
#include "platform/errors.h"

#include <algorithm>
#include <cstdlib>

#include "surface/sectorreader.h"

using namespace platform;

namespace {
constexpr size_t BufferAlignment = 4096;
}

TReadWindow::TReadWindow(Platform& platform, TSectorReader& reader, uint32_t depth)
    : platform_(platform), reader_(reader), depth_(std::clamp<uint32_t>(depth, 1, MaxDepth)) {}

TReadWindow::~TReadWindow() {
    Stop();
    platform::AlignedFree(buffers_);
}

void TReadWindow::Start(int64_t endSector) {
    endBlock_ = endSector > 0 ? (endSector + SectorsPerRead - 1) / SectorsPerRead : 0;
    nextIssue_ = nextHanded_ = 0;
    prevFailed_ = false;
    lastCompletedUs_ = platform_.ReadClockUs();
    if (!reader_.IsOpen() || !platform_.BindIoCompletion(reader_.DriveHandle, depth_)) return;
    buffers_ = static_cast<uint8_t*>(platform::AlignedAlloc(BufferAlignment, size_t{depth_} * reader_.ReadBufferSize));
    if (!buffers_) return;
    slots_.assign(depth_, Slot{});
    kind_ = platform_.IoCompletionKind(reader_.DriveHandle);
    overlapped_ = true;
}

std::string TReadWindow::Describe() const {
    if (!overlapped_) return "one read at a time";
    return kind_ + ", " + std::to_string(depth_) + (depth_ == 1 ? " read" : " reads") + " in flight";
}

void TReadWindow::Issue(int64_t block) {
    Slot& s = slots_[static_cast<size_t>(block % depth_)];
    s = Slot{};
    s.block = block;
    s.submittedUs = platform_.ReadClockUs();
    void* buffer = buffers_ + static_cast<size_t>(block % depth_) * reader_.ReadBufferSize;
    if (platform_.ReadFileOverlapped(reader_.DriveHandle, buffer, reader_.ReadBufferSize,
                                     block * SectorsPerRead * int64_t{BytesPerSector}, static_cast<uint64_t>(block))) {
        s.queued = true;
        ++inFlight_;
    } else {
        s.done = true;
        s.completion.completedUs = s.submittedUs;
    }
}

// One completion into its slot; false when nothing more will complete.
bool TReadWindow::TakeCompletion() {
    ReadCompletion c;
    if (inFlight_ == 0 || !platform_.GetQueuedCompletionStatus(reader_.DriveHandle, c)) return false;
    Slot& s = slots_[static_cast<size_t>(c.key % depth_)];
    if (s.queued && !s.done && s.block == static_cast<int64_t>(c.key)) {
        s.completion = c;
        s.sinceUs = std::max(s.submittedUs, lastCompletedUs_);
        lastCompletedUs_ = std::max(lastCompletedUs_, c.completedUs);
        s.done = true;
        --inFlight_;
    }
    return true;
}

BlockRead TReadWindow::ReadAlone(int64_t sector) {
    BlockRead r;
    const uint64_t t0 = platform_.ReadClockUs();
    r.status = reader_.ReadSectorBlock(sector);
    if (r.status != 0) r.error = platform_.GetLastError();
    r.micros = static_cast<uint32_t>(std::min<uint64_t>(platform_.ReadClockUs() - t0, UINT32_MAX));
    return r;
}

bool TReadWindow::Together(uint64_t aUs, uint64_t bUs) {
    return (aUs > bUs ? aUs - bUs : bUs - aUs) < TogetherUs;
}

// Waits for the block after this one when it is in flight: it is next anyway.
bool TReadWindow::NextFailsWith(int64_t block, uint64_t atUs) {
    if (block + 1 >= nextIssue_) return false;
    Slot& n = slots_[static_cast<size_t>((block + 1) % depth_)];
    while (!n.done && TakeCompletion()) {
    }
    return n.done && n.queued && n.completion.error != 0 && Together(n.completion.completedUs, atUs);
}

// The read time of a block: from the later of its submission and the completion
// the device delivered just before it (of whichever block), to its own completion.
// Reads ahead wait in the device's queue; counting from submission would charge
// each of them the wait for a slow neighbour, counting from the completion before
// charges only what the device spent on this block. Taking the completion before
// in the order the device finished, not in block order, keeps a device that
// serves out of order from charging a slow block's time to one it served later.
BlockRead TReadWindow::Next(int64_t sector) {
    const int64_t block = sector / SectorsPerRead;
    if (!overlapped_ || block != nextHanded_ || sector % SectorsPerRead != 0 || block >= endBlock_)
        return ReadAlone(sector);
    while (nextIssue_ < endBlock_ && nextIssue_ < block + depth_) Issue(nextIssue_++);
    Slot& s = slots_[static_cast<size_t>(block % depth_)];
    while (!s.done && TakeCompletion()) {
    }
    ++nextHanded_;
    const Slot got = s;
    s = Slot{};
    if (!got.done) return ReadAlone(sector);  // lost by the backend: read it plainly
    const uint64_t waited =
        got.completion.completedUs > got.sinceUs ? got.completion.completedUs - got.sinceUs : 0;
    const bool prevFailed = prevFailed_;
    const uint64_t prevFailedUs = prevFailedUs_;
    prevFailed_ = got.queued && got.completion.error != 0;
    prevFailedUs_ = got.completion.completedUs;
    if (prevFailed_) {
        // The kernel may merge neighbouring reads into one request, and a failed
        // request fails every block in it at once. Failures of neighbours that
        // came back together are settled by reading each block alone; a failure
        // on its own, or apart in time, is the block's own and costs no more.
        const uint64_t at = got.completion.completedUs;
        // A disk that has gone is not asked again.
        if (!TSectorReader::VanishedError(got.completion.error) &&
            ((prevFailed && Together(prevFailedUs, at)) || NextFailsWith(block, at)))
            return ReadAlone(sector);
        BlockRead r;
        r.status = 1;
        r.error = got.completion.error;
        r.micros = static_cast<uint32_t>(std::min<uint64_t>(waited, UINT32_MAX));
        return r;
    }
    if (got.queued && got.completion.bytes == reader_.ReadBufferSize) {
        BlockRead r;
        r.micros = static_cast<uint32_t>(std::min<uint64_t>(waited, UINT32_MAX));
        return r;
    }
    // Short, or never queued: the plain read settles the block, as it always has
    // (the end of the device, a read cut short, a refused shape).
    BlockRead r = ReadAlone(sector);
    r.micros = static_cast<uint32_t>(std::min<uint64_t>(uint64_t{r.micros} + waited, UINT32_MAX));
    return r;
}

void TReadWindow::Stop() {
    if (!overlapped_) return;
    nextIssue_ = endBlock_;
    if (inFlight_ > 0) platform_.CancelIo(reader_.DriveHandle);
    while (TakeCompletion()) {
    }
    inFlight_ = 0;
}
