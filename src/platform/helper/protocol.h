// The privileged helper's wire protocol: length-prefixed frames over a Unix stream
// socket (the helper's standard input), little-endian fields, every length checked
// against fixed limits before anything is allocated. Decoding never trusts the peer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform::helper {

// A frame is a 4-byte payload length followed by the payload.
constexpr uint32_t MaxFrame = 70 * 1024;
constexpr uint32_t MaxIoctlData = 64 * 1024;
constexpr uint32_t MaxText = 4096;
// A scan record's JSON text.
constexpr uint32_t MaxRecord = 64 * 1024;

enum class Op : uint8_t {
    Open = 1,       // a drive path -> a handle in the helper and a read-only descriptor
    Ioctl = 2,      // a device control on a handle the helper opened
    Close = 3,
    KeyExists = 4,
    RegRead = 5,
    RegWrite = 6,
    SaveRecord = 7, // a scan record: key in text, JSON in data
};

struct Request {
    Op op = Op::Open;
    std::string text;            // Open: drive path; Key*/Reg*: key path
    std::string name;            // Reg*: value name
    uint32_t handle = 0;         // Ioctl, Close
    uint32_t code = 0;           // Ioctl: control code
    uint32_t outSize = 0;        // Ioctl: size of the caller's output buffer
    std::vector<uint8_t> data;   // Ioctl: input bytes; RegWrite: value bytes; SaveRecord: the JSON
    uint32_t valueType = 0;      // RegWrite
    uint32_t dword = 0;          // RegWrite of REG_DWORD
};

struct Reply {
    bool ok = false;
    uint32_t lastError = 0;      // errno of the failed call
    uint32_t handle = 0;         // Open
    uint32_t bytesReturned = 0;  // Ioctl
    std::vector<uint8_t> data;   // Ioctl output; RegRead: REG_SZ text or other raw bytes
    uint32_t valueType = 0;      // RegRead
    uint32_t dword = 0;          // RegRead of REG_DWORD
    std::string message;         // why a request was refused (for the log); Open: the node opened
};

std::vector<uint8_t> EncodeRequest(const Request& r);
// nullopt for anything malformed: unknown op, a length past its limit or past the
// payload, bytes left over.
std::optional<Request> DecodeRequest(const uint8_t* data, size_t size);

std::vector<uint8_t> EncodeReply(const Reply& r);
std::optional<Reply> DecodeReply(const uint8_t* data, size_t size);

// Frames on a socket. A descriptor travels with a frame as SCM_RIGHTS.
// SendFrame returns false when the peer is gone. RecvFrame returns nullopt at end of
// stream or on a malformed/oversized frame (the connection is then unusable);
// a descriptor received with it is stored in *fd (else -1), close-on-exec.
bool SendFrame(int socket, const std::vector<uint8_t>& payload, int fd = -1);
std::optional<std::vector<uint8_t>> RecvFrame(int socket, int* fd = nullptr);

}  // namespace platform::helper
