// What names a physical drive across reboots and replugs, unlike its number.
#pragma once

#include <string>
#include <vector>

namespace platform { class Platform; }

struct DriveStableId {
    bool found = false;                  // the management service knows the drive
    std::string model, serial, interfaceType, wwn;
    std::vector<std::string> byIdNames;  // /dev/disk/by-id names, sorted

    // The WWN, else model and serial ("MODEL_SERIAL"), else the first by-id name;
    // empty when the drive gives none of them.
    std::string Label() const;
};

// The Win32_DiskDrive facts of drive N; found is false when none matched.
DriveStableId QueryDriveStableId(platform::Platform& platform, int driveNumber);

// A label made a file name of [A-Za-z0-9._-], at most 128 characters: other
// characters become '_', a longer label keeps its head and a hash of the whole,
// so two labels only share a key when they differ in replaced characters alone.
std::string ScanRecordKey(const std::string& label);
