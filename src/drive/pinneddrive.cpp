#include "drive/pinneddrive.h"
#include "platform/errors.h"

#include <cerrno>

PinnedDrivePlatform::PinnedDrivePlatform(platform::Platform& inner, std::string path, DriveIdentity expected)
    : ForwardingPlatform(inner), path_(std::move(path)), expected_(std::move(expected)) {}

platform::Handle PinnedDrivePlatform::CreateFile(const std::string& path, uint32_t access, uint32_t share,
                                                 uint32_t creation, uint32_t flags) {
    refusedLast_ = false;
    const platform::Handle h = inner_.CreateFile(path, access, share, creation, flags);
    if (h == platform::InvalidHandle || path != path_) return h;
    // Checked on the handle the caller goes on to use, so nothing can change in between.
    if (expected_.SameDisk(QueryDriveIdentity(inner_, h))) return h;
    inner_.CloseHandle(h);
    wrongDisk_ = true;
    refusedLast_ = true;
    return platform::InvalidHandle;
}

uint32_t PinnedDrivePlatform::GetLastError() { return refusedLast_ ? platform::ErrorWrongDisk : inner_.GetLastError(); }
