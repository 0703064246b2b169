// One sector surface test: reads the drive from sector 0 in blocks of
// SectorsPerRead while the block start lies below EndSector, counts and logs
// every block that cannot be read, and reports progress and times through
// callbacks, so the window, a test or a command line can drive it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "surface/readtimes.h"
#include "drive/driveidentity.h"

namespace platform { class Platform; }

struct SurfaceRunCallbacks {
    std::function<void()> pump;                              // process pending events
    std::function<void(const std::string&)> log;             // one line of the log
    std::function<void(int64_t, int64_t)> blockFailed;       // error count so far, the block's first sector
    std::function<void(int)> progress;                       // percentage of EndSector
    std::function<void(const std::string&)> trayHint;
    std::function<void(const std::string&)> remainingTime;   // called at each time refresh
    std::function<void(const std::string&)> usedTime;
    std::function<bool()> abortRequested;
    std::function<void(const std::string&)> readMode;        // how the drive is read, before the first block
    std::function<void(int64_t, ReadClass, uint32_t)> blockTimed;  // a block's first sector, class, microseconds
};

struct SurfaceRunResult {
    bool opened = false;        // false: the drive could not be opened, nothing was read
    int64_t CurrentSector = 0;  // first sector after the last block, or of the aborted one
    int64_t ErrorCount = 0;
    bool aborted = false;
    std::string openError;      // the system's text when the drive could not be opened
    TReadTimes readTimes;       // every block attempted, by read time
    std::string readMode;       // "io_uring, 32 reads in flight", ...
    bool wrongDisk = false;     // not opened: the path now leads to another disk than expected
    bool vanished = false;      // the drive went during the run; CurrentSector is where
    std::string node;           // the device node or file the run read
    // A physical drive's scan is kept as its drive's last scan record.
    bool recordKept = false;
    std::string recordError;    // why it was not kept; empty when kept or not asked for
};

class TSurfaceRun {
public:
    static constexpr int32_t RefreshInterval = 2000;
    // Reads kept in flight ahead of the block the run is at (README: how chosen).
    static constexpr uint32_t DefaultQueueDepth = 32;

    TSurfaceRun(platform::Platform& platform, SurfaceRunCallbacks callbacks);

    // expected: the disk the caller probed; another one behind the path is not read.
    SurfaceRunResult Run(const std::string& devicePath, const std::string& displayName, int64_t endSector,
                         const DriveIdentity* expected = nullptr);

    // Refreshes the two time texts when Current is a multiple of RefreshInterval.
    void ShowTestTimes(int32_t refreshInterval, int64_t current, int64_t total);

    // The tray tooltip for a block: name, percentage, sector, bytes tested.
    static std::string TrayHint(const std::string& displayName, int progress, int64_t sector);
    // Trunc(current / end * 100), computed in extended precision.
    static int Progress(int64_t current, int64_t end);
    // Seconds left: elapsed time per sector so far applied to the sectors that remain.
    static int64_t RemainingSeconds(int32_t elapsedMs, int64_t current, int64_t total);

    uint32_t StartTick = 0;
    uint32_t LastTick = 0;
    uint32_t QueueDepth = DefaultQueueDepth;

private:
    void KeepRecord(SurfaceRunResult& result, const std::string& label, int driveNumber,
                    const std::string& devicePath, int64_t endSector, int64_t startUnix);

    platform::Platform& platform_;
    SurfaceRunCallbacks cb_;
};
