// libFuzzer target: the privileged helper's request and reply decoders on any bytes.
// Whatever decodes must encode back to the same bytes (nothing is half-read).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/helper/protocol.h"

using namespace platform::helper;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);
    if (auto q = DecodeRequest(bytes.data(), bytes.size())) {
        if (EncodeRequest(*q) != bytes) __builtin_trap();
        if (q->outSize > MaxIoctlData || q->data.size() > MaxIoctlData || q->text.size() > MaxText ||
            q->name.size() > MaxText)
            __builtin_trap();
    }
    if (auto r = DecodeReply(bytes.data(), bytes.size())) {
        if (EncodeReply(*r) != bytes) __builtin_trap();
        if (r->bytesReturned > r->data.size()) __builtin_trap();
    }
    return 0;
}
