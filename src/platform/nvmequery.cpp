#include "platform/nvmequery.h"

#include <cerrno>
#include <cstring>

namespace platform {

std::vector<uint8_t> BuildNvmeQuery(uint32_t dataType, uint32_t value, uint32_t subValue, uint32_t length) {
    // Sized in 64 bits: the head is never lost to a wrapped length.
    std::vector<uint8_t> b(size_t{NvmeQueryHeadSize} + length, 0);
    STORAGE_PROPERTY_QUERY q{};
    q.PropertyId = StorageDeviceProtocolSpecificProperty;
    q.QueryType = PropertyStandardQuery;
    STORAGE_PROTOCOL_SPECIFIC_DATA d{};
    d.ProtocolType = ProtocolTypeNvme;
    d.DataType = dataType;
    d.ProtocolDataRequestValue = value;
    d.ProtocolDataRequestSubValue = subValue;
    d.ProtocolDataOffset = sizeof d;
    d.ProtocolDataLength = length;
    std::memcpy(b.data(), &q, 8);
    std::memcpy(b.data() + 8, &d, sizeof d);
    return b;
}

NvmeRequest CheckNvmeQuery(const void* in, uint32_t inSize, uint32_t outSize, uint32_t* error) {
    NvmeRequest r;
    auto refuse = [&](uint32_t code) {
        if (error) *error = code;
        return NvmeRequest{};
    };
    if (!in || inSize < NvmeQueryHeadSize) return refuse(EINVAL);
    STORAGE_PROPERTY_QUERY q;
    std::memcpy(&q, in, 8);
    STORAGE_PROTOCOL_SPECIFIC_DATA d;
    std::memcpy(&d, static_cast<const uint8_t*>(in) + 8, sizeof d);
    if (q.PropertyId != StorageDeviceProtocolSpecificProperty || q.QueryType != PropertyStandardQuery ||
        d.ProtocolType != ProtocolTypeNvme)
        return refuse(EINVAL);
    if (d.DataType == NVMeDataTypeIdentify) {
        if (d.ProtocolDataRequestValue == NVME_IDENTIFY_CNS_CONTROLLER && d.ProtocolDataRequestSubValue == 0)
            r.kind = NvmeQuery::IdentifyController;
        else if (d.ProtocolDataRequestValue == NVME_IDENTIFY_CNS_SPECIFIC_NAMESPACE &&
                 d.ProtocolDataRequestSubValue != 0xFFFFFFFFu)
            r.kind = NvmeQuery::IdentifyNamespace;
        else
            return refuse(EINVAL);
        r.nsid = d.ProtocolDataRequestSubValue;
        r.dataLength = NvmeIdentifySize;
    } else if (d.DataType == NVMeDataTypeLogPage) {
        // The whole page from its start: no offsets, no other page.
        if (d.ProtocolDataRequestValue != NVME_LOG_PAGE_HEALTH_INFO || d.ProtocolDataRequestSubValue != 0 ||
            d.ProtocolDataRequestSubValue2 != 0 || d.ProtocolDataRequestSubValue3 != 0 ||
            d.ProtocolDataRequestSubValue4 != 0)
            return refuse(EINVAL);
        r.kind = NvmeQuery::HealthLog;
        r.dataLength = NvmeHealthLogSize;
    } else {
        return refuse(EINVAL);
    }
    // The data sits right after the protocol record, in full, inside the output.
    if (d.ProtocolDataOffset != sizeof(STORAGE_PROTOCOL_SPECIFIC_DATA) || d.ProtocolDataLength != r.dataLength ||
        outSize < NvmeQueryHeadSize || outSize - NvmeQueryHeadSize < r.dataLength)
        return refuse(EINVAL);
    r.dataOffset = NvmeQueryHeadSize;
    if (error) *error = 0;
    return r;
}

void PutNvmeAnswerHead(const void* in, void* out) {
    STORAGE_PROTOCOL_DATA_DESCRIPTOR head{};
    head.Version = sizeof head;
    head.Size = sizeof head;
    std::memcpy(&head.ProtocolSpecificData, static_cast<const uint8_t*>(in) + 8, sizeof head.ProtocolSpecificData);
    head.ProtocolSpecificData.FixedProtocolReturnData = 0;
    std::memmove(out, &head, sizeof head);
}

}  // namespace platform
