#include "drives.h"

#include <algorithm>
#include <cerrno>

#include "commands.h"
#include "drive/drivelist.h"
#include "drive/harddrive.h"
#include "platform/drivepath.h"
#include "platform/platform.h"

namespace cli {

std::vector<int> PresentDriveNumbers(platform::Platform& p) {
    std::vector<int> numbers;
    for (int n = 0; n < TDriveList::MaxPhysicalDrives; ++n) {
        const platform::Handle h = p.CreateFile(platform::PhysicalDrivePath(n), platform::GENERIC_READ,
                                                platform::FILE_SHARE_READ | platform::FILE_SHARE_WRITE,
                                                platform::OPEN_EXISTING, 0);
        if (h != platform::InvalidHandle) {
            p.CloseHandle(h);
            numbers.push_back(n);
        } else if (p.GetLastError() != ENOENT) {
            numbers.push_back(n);  // there, but refusing: reported as a drive error
        }
    }
    return numbers;
}

CheckedDrive CheckDrive(platform::Platform& p, int n) {
    CheckedDrive d;
    d.number = n;
    d.path = platform::PhysicalDrivePath(n);
    d.stable = QueryDriveStableId(p, n);
    d.id = d.stable.Label();
    THardDrive probe(p, d.path);
    if (!probe.PartitionInfoValid && !probe.GeometryValid) {
        d.error = "cannot_open";
        d.errorText = "cannot open " + d.path + ": " + OpenErrorText(p, d.path);
        return d;
    }
    const int64_t start = probe.PartitionInfo.StartingOffset / BytesPerSector;
    const int64_t end = start + probe.PartitionInfo.PartitionLength / 512;
    d.smart = RunSmartTest(p, n, start, end, GroupSeparator(), &probe.Identity);
    if (d.smart.wrongDisk) {
        d.error = "drive_moved";
        d.errorText = d.path + " leads to another disk than the one probed (drives were added or removed)";
    } else if (!d.smart.tableShown) {
        d.error = "no_smart_answer";
        d.errorText = d.smart.resInfo;
    }
    return d;
}

int DriveNumberOfByIdName(platform::Platform& p, const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos) return -1;
    for (int n : PresentDriveNumbers(p)) {
        const DriveStableId id = QueryDriveStableId(p, n);
        if (std::find(id.byIdNames.begin(), id.byIdNames.end(), name) != id.byIdNames.end()) return n;
    }
    return -1;
}

}  // namespace cli
