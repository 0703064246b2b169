// Overlapped reads of simulated drives: each read is served when the device is
// free, in the order queued, and takes clock.msPerRead plus the `slow` ranges it
// touches; waiting for a completion moves the virtual clock to it.
#include <algorithm>
#include <cerrno>
#include <nlohmann/json.hpp>

#include "platform/sim/sim_platform.h"

namespace platform::sim {

uint32_t SimPlatform::ServiceMs(const Json& d, int64_t offset, uint32_t size) const {
    const Json& m = *manifest_;
    uint32_t ms = m.contains("clock") ? m["clock"].value("msPerRead", 0u) : 0u;
    if (d.contains("slow"))
        for (const Json& r : d["slow"]) {
            const int64_t from = r.at("offset").get<int64_t>();
            const int64_t to = from + r.at("length").get<int64_t>();
            if (from < offset + static_cast<int64_t>(size) && to > offset) ms += r.at("ms").get<uint32_t>();
        }
    return ms;
}

bool SimPlatform::BindIoCompletion(Handle h, uint32_t) {
    SimOpenFile* f = Find(h);
    if (!f) {
        lastError_ = EBADF;
        return false;
    }
    if (!DriveOf(*f).desc->value("overlapped", true)) {
        lastError_ = ENOTSUP;
        return false;
    }
    queues_.try_emplace(h);
    lastError_ = 0;
    return true;
}

std::string SimPlatform::IoCompletionKind(Handle h) { return queues_.count(h) ? "simulated" : ""; }

bool SimPlatform::ReadFileOverlapped(Handle h, void* buffer, uint32_t size, int64_t offset, uint64_t key) {
    auto q = queues_.find(h);
    SimOpenFile* f = Find(h);
    if (!f || q == queues_.end()) {
        lastError_ = f ? EINVAL : EBADF;
        return false;
    }
    // The bytes and the outcome are those of a plain read at that offset; only
    // the time is the queue's.
    const uint32_t tick = tick_;
    const int64_t position = f->position;
    f->position = offset;
    PendingRead p;
    p.completion.key = key;
    if (!ReadFile(h, buffer, size, &p.completion.bytes)) p.completion.error = lastError_;
    f->position = position;
    tick_ = tick;
    // Recorded when the device serves it, not now: a cancelled read never reaches it.
    reads_.pop_back();
    p.offset = offset;
    ++submitted_;
    const uint64_t now = ReadClockUs();
    p.startUs = std::max(now, q->second.busyUntilUs);
    p.completion.completedUs = p.startUs + uint64_t{ServiceMs(*DriveOf(*f).desc, offset, size)} * 1000u;
    q->second.busyUntilUs = p.completion.completedUs;
    p.order = q->second.submitted++;
    q->second.pending.push_back(p);
    lastError_ = 0;
    return true;
}

bool SimPlatform::GetQueuedCompletionStatus(Handle h, ReadCompletion& out) {
    auto q = queues_.find(h);
    if (q == queues_.end() || q->second.pending.empty()) return false;
    auto& pending = q->second.pending;
    auto next = std::min_element(pending.begin(), pending.end(), [](const PendingRead& a, const PendingRead& b) {
        return a.completion.completedUs != b.completion.completedUs ? a.completion.completedUs < b.completion.completedUs
                                                                    : a.order < b.order;
    });
    out = next->completion;
    if (!next->cancelled) reads_.push_back(next->offset);
    pending.erase(next);
    tick_ = std::max(tick_, static_cast<uint32_t>(out.completedUs / 1000u));
    return true;
}

// A read the device has begun runs to its end; the others, those it would begin
// now or later, are taken back.
bool SimPlatform::CancelIo(Handle h) {
    auto q = queues_.find(h);
    if (q == queues_.end()) return false;
    const uint64_t now = ReadClockUs();
    uint64_t busy = now;
    for (PendingRead& p : q->second.pending) {
        if (p.startUs >= now) {
            p.cancelled = true;
            p.completion.error = ECANCELED;
            p.completion.bytes = 0;
            p.completion.completedUs = now;
            ++cancelled_;
        } else {
            busy = std::max(busy, p.completion.completedUs);
        }
    }
    q->second.busyUntilUs = busy;
    return true;
}

}  // namespace platform::sim
