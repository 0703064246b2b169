// Which disk a drive-list entry or an open handle stands for: numbers that do not
// pass to another disk while the system runs, unlike drive numbers and names.
#pragma once

#include <cstdint>
#include <string>

namespace platform {
class Platform;
using Handle = std::intptr_t;
}  // namespace platform

// The disk behind an open handle, as the platform names it.
struct DriveIdentity {
    bool known = false;         // false: the platform could not say
    uint64_t deviceNumber = 0;
    uint64_t fileIndex = 0;
    uint64_t diskSequence = 0;
    std::string node;           // the device node or file the handle reads

    // Both known and naming one disk. An unknown side never matches, so a drive
    // that cannot say what it is is never taken for the one probed.
    bool SameDisk(const DriveIdentity& o) const {
        return known && o.known && deviceNumber == o.deviceNumber && fileIndex == o.fileIndex &&
               diskSequence == o.diskSequence;
    }
};

// Asks the platform which disk a handle reads; an unknown identity when it cannot.
DriveIdentity QueryDriveIdentity(platform::Platform& platform, platform::Handle h);
