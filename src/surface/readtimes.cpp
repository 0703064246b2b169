#include "surface/readtimes.h"

ReadClass ClassOfRead(bool failed, uint32_t micros) {
    if (failed) return ReadFailed;
    if (micros < 5000) return Under5ms;
    if (micros < 20000) return Under20ms;
    if (micros < 50000) return Under50ms;
    if (micros < 150000) return Under150ms;
    if (micros < 500000) return Under500ms;
    return AtLeast500ms;
}

const char* ReadClassKey(ReadClass c) {
    static const char* const keys[] = {"under5ms", "under20ms", "under50ms", "under150ms",
                                       "under500ms", "atLeast500ms", "failed"};
    return c < ReadClassCount ? keys[c] : "";
}

const char* ReadClassLabel(ReadClass c) {
    static const char* const labels[] = {"under 5 ms", "under 20 ms", "under 50 ms", "under 150 ms",
                                         "under 500 ms", "500 ms or more", "failed"};
    return c < ReadClassCount ? labels[c] : "";
}

void TReadTimes::Add(int64_t sector, bool failed, uint32_t micros) {
    ++counts_[ClassOfRead(failed, micros)];
    if (failed || micros / 1000 < SlowMs) return;
    if (slow_.size() < SlowListCap) {
        slow_.push_back({sector, micros / 1000});
    } else {
        truncated_ = true;
    }
}

int64_t TReadTimes::Blocks() const {
    int64_t n = 0;
    for (int64_t c : counts_) n += c;
    return n;
}
