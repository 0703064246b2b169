// The only NVMe admin data the protocol query carries: Identify Controller,
// Identify Namespace and the SMART / Health Information log page. Both backends
// check a query here before anything reaches the device, so no path through them
// can send a command that changes the drive.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/records.h"

namespace platform {

enum class NvmeQuery { None, IdentifyController, IdentifyNamespace, HealthLog };

struct NvmeRequest {
    NvmeQuery kind = NvmeQuery::None;
    uint32_t nsid = 0;        // Identify Namespace: 0 = the handle's own namespace
    uint32_t dataOffset = 0;  // where the data goes in the output buffer
    uint32_t dataLength = 0;
};

// Reads an IOCTL_STORAGE_QUERY_PROPERTY input and checks it against the allow-list
// and the output buffer's size. kind None (with the errno to report in *error)
// for anything else.
// A protocol query for one NVMe data item, with room for its answer of length bytes
// behind the head (the buffer is both the request and the answer).
std::vector<uint8_t> BuildNvmeQuery(uint32_t dataType, uint32_t value, uint32_t subValue, uint32_t length);

NvmeRequest CheckNvmeQuery(const void* in, uint32_t inSize, uint32_t outSize, uint32_t* error);

// Writes the answer's head (descriptor echoing the request) before the data.
void PutNvmeAnswerHead(const void* in, void* out);

}  // namespace platform
