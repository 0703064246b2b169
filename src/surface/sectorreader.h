// The surface test's only access to the drive: open for one run, read blocks of
// SectorsPerRead sectors by sector number, close.
#pragma once

#include <cstdint>
#include <string>

#include "drive/harddrive.h"
#include "platform/platform.h"

constexpr uint32_t SectorsPerRead = 128;

class TSectorReader {
public:
    explicit TSectorReader(platform::Platform& platform) : platform_(platform) {}
    ~TSectorReader() { Close(); }
    TSectorReader(const TSectorReader&) = delete;
    TSectorReader& operator=(const TSectorReader&) = delete;

    // Opens the drive for reading only. False when the platform refuses, or when
    // expected is given and the handle reads another disk (WrongDisk); then
    // nothing is allocated. The check is made on the handle the reads use.
    bool Open(const std::string& devicePath, const DriveIdentity* expected = nullptr);
    // 0: the block starting at the sector was read (a short read at the end of the
    // device included); 1: the read failed; else the error of a failed positioning.
    int32_t ReadSectorBlock(int64_t sector);
    // Releases the buffer and the handle; harmless when nothing is open.
    void Close();
    bool IsOpen() const { return DriveHandle != platform::InvalidHandle; }
    // The last failed read's error says the drive itself is gone (removed, detached,
    // cut below the block), not that a block is bad.
    bool DriveVanished() const;
    static bool VanishedError(uint32_t error);

    DriveIdentity Identity;         // the disk the open handle reads
    bool WrongDisk = false;         // the last Open found another disk than expected
    uint32_t LastError = 0;         // of the last failed read

    platform::Handle DriveHandle = platform::InvalidHandle;
    void* ReadBuffer = nullptr;
    uint32_t ReadBufferSize = 0;
    uint32_t BytesRead = 0;

private:
    platform::Platform& platform_;
};
