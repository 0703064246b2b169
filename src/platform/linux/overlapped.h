// Overlapped reads on a descriptor: io_uring where the kernel allows it, else a
// pool of threads doing pread. Either stamps each completion the moment it is
// seen, on a thread of its own, so a busy caller does not make reads look slow.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/platform.h"

namespace platform::linuxbe {

enum class OverlappedMode {
    Auto,     // io_uring, the thread pool when io_uring is refused
    Threads,  // the thread pool only
    Off,      // no overlapped reads: one ReadFile at a time
};

class OverlappedReads {
public:
    virtual ~OverlappedReads() = default;
    virtual const char* Kind() const = 0;
    // 0, or the errno why the read could not be queued.
    virtual int Submit(void* buffer, uint32_t size, int64_t offset, uint64_t key) = 0;
    // Blocks for the next completion; false when nothing is in flight.
    virtual bool Wait(ReadCompletion& out) = 0;
    virtual void Cancel() = 0;
};

// nullptr when mode is Off, or when neither mechanism can be set up.
std::unique_ptr<OverlappedReads> MakeOverlappedReads(int fd, uint32_t depth, OverlappedMode mode);

uint64_t MonotonicUs();

}  // namespace platform::linuxbe
