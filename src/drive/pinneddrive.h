// A platform on which one drive path opens only the disk that was listed: a test
// that opens the drive several times (identify, attributes, thresholds) cannot be
// moved to another disk by drives coming and going between its opens.
#pragma once

#include <string>

#include "drive/driveidentity.h"
#include "platform/forwarding.h"

class PinnedDrivePlatform : public platform::ForwardingPlatform {
public:
    PinnedDrivePlatform(platform::Platform& inner, std::string path, DriveIdentity expected);

    // An open of the pinned path that reaches another disk is closed again and
    // fails with ESTALE.
    platform::Handle CreateFile(const std::string& path, uint32_t access, uint32_t share, uint32_t creation,
                                uint32_t flags) override;
    uint32_t GetLastError() override;

    // True once an open reached another disk.
    bool WrongDisk() const { return wrongDisk_; }

private:
    std::string path_;
    DriveIdentity expected_;
    bool wrongDisk_ = false;
    bool refusedLast_ = false;
};
