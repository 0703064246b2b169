// The physical drives of the machine as metrics and check see them: every number
// that answers, and every one that exists but cannot be opened.
#pragma once

#include <string>
#include <vector>

#include "drive/stableid.h"
#include "smart/smarttest.h"

namespace platform { class Platform; }

namespace cli {

struct CheckedDrive {
    int number = -1;
    std::string path;          // \\.\PhysicalDriveN
    DriveStableId stable;
    std::string id;            // stable.Label()
    std::string error;         // "cannot_open", "drive_moved", "no_smart_answer"; empty when tested
    std::string errorText;     // the same for people
    SmartTestOutcome smart;    // valid when error is empty
};

// Drive numbers 0 .. 24 that exist (an absent number answers "no such file").
std::vector<int> PresentDriveNumbers(platform::Platform& p);

// The S.M.A.R.T. test of drive n, as "smart N" runs it.
CheckedDrive CheckDrive(platform::Platform& p, int n);

// Resolves /dev/disk/by-id/NAME to the drive number whose disk carries that
// name; -1 when none does.
int DriveNumberOfByIdName(platform::Platform& p, const std::string& name);

}  // namespace cli
