#include "surface/sectorreader.h"
#include "platform/errors.h"

#include <cerrno>
#include <cstdlib>
#include <new>

using namespace platform;

namespace {
// Aligned for unbuffered device reads, so the backend can read straight into it.
constexpr size_t BufferAlignment = 4096;
}  // namespace

bool TSectorReader::Open(const std::string& devicePath, const DriveIdentity* expected) {
    Close();
    WrongDisk = false;
    Identity = DriveIdentity{};
    Handle h = platform_.CreateFile(devicePath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    OPEN_EXISTING, 0);
    if (h == InvalidHandle) return false;
    Identity = QueryDriveIdentity(platform_, h);
    if (expected && !expected->SameDisk(Identity)) {
        platform_.CloseHandle(h);
        WrongDisk = true;
        return false;
    }
    const uint32_t size = static_cast<uint32_t>(BytesPerSector) * SectorsPerRead;
    void* buffer = platform::AlignedAlloc(BufferAlignment, size);
    if (!buffer) {
        platform_.CloseHandle(h);
        return false;
    }
    DriveHandle = h;
    ReadBufferSize = size;
    ReadBuffer = buffer;
    BytesRead = 0;
    return true;
}

int32_t TSectorReader::ReadSectorBlock(int64_t sector) {
    int32_t result = 0;
    const int64_t offset = sector * static_cast<int64_t>(BytesPerSector);
    int32_t low = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(offset)));
    int32_t high = static_cast<int32_t>(static_cast<uint64_t>(offset) >> 32);
    uint32_t position = 0;
    uint32_t error = 0;
    try {
        position = platform_.SetFilePointer(DriveHandle, low, &high, FILE_BEGIN);
        error = platform_.GetLastError();
    } catch (...) {
        position = INVALID_SET_FILE_POINTER;
        error = 1;
    }
    // The invalid-position value is also a valid low half; only with an error is
    // it a failure.
    if (position == INVALID_SET_FILE_POINTER && error != 0) return static_cast<int32_t>(error);
    if (!platform_.ReadFile(DriveHandle, ReadBuffer, ReadBufferSize, &BytesRead)) {
        LastError = platform_.GetLastError();
        result = 1;
    }
    return result;
}

// "No such device (or address)", or on Windows "not connected": a disk that went
// away, as a disk cut below the block reads.
bool TSectorReader::VanishedError(uint32_t error) {
    return error == platform::ErrorDeviceGone || error == platform::ErrorNoSuchDevice;
}

bool TSectorReader::DriveVanished() const { return VanishedError(LastError); }

void TSectorReader::Close() {
    if (ReadBuffer) {
        platform::AlignedFree(ReadBuffer);
        ReadBuffer = nullptr;
    }
    if (DriveHandle != InvalidHandle) {
        platform_.CloseHandle(DriveHandle);
        DriveHandle = InvalidHandle;
    }
    ReadBufferSize = 0;
}
