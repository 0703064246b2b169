#include "surface/surfacerun.h"

#include <cfenv>
#include <cmath>
#include <ctime>

#include "drive/format.h"
#include "drive/stableid.h"
#include "platform/drivepath.h"
#include "platform/platform.h"
#include "surface/scanrecord.h"
#include "surface/readwindow.h"
#include "surface/sectorreader.h"

namespace {

std::string TrimmedText(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ' || s.back() == '.')) s.pop_back();
    return s;
}

}  // namespace

TSurfaceRun::TSurfaceRun(platform::Platform& platform, SurfaceRunCallbacks callbacks)
    : platform_(platform), cb_(std::move(callbacks)) {}

int TSurfaceRun::Progress(int64_t current, int64_t end) {
    if (end == 0) return 0;
    long double share = static_cast<long double>(current) / static_cast<long double>(end) * 100.0L;
    return static_cast<int>(std::trunc(share));
}

std::string TSurfaceRun::TrayHint(const std::string& displayName, int progress, int64_t sector) {
    return displayName + "\r @: " + std::to_string(progress) + "%\r @ sector: " + std::to_string(sector) +
           "\r" + FormatSize(sector * 512) + " tested.";
}

int64_t TSurfaceRun::RemainingSeconds(int32_t elapsedMs, int64_t current, int64_t total) {
    const int64_t p = static_cast<int64_t>(elapsedMs) * (total - current);
    long double seconds = static_cast<long double>(p) / static_cast<long double>(current + 1) / 1000.0L;
    // Ties to even, as the default rounding mode does.
    return static_cast<int64_t>(std::nearbyintl(seconds));
}

void TSurfaceRun::ShowTestTimes(int32_t refreshInterval, int64_t current, int64_t total) {
    if (refreshInterval == 0 || current % refreshInterval != 0) return;
    LastTick = platform_.GetTickCount();
    const int32_t elapsed = static_cast<int32_t>(LastTick - StartTick);
    if (cb_.remainingTime) cb_.remainingTime(FormatDuration(false, RemainingSeconds(elapsed, current, total)));
    const uint32_t used = (LastTick - StartTick) / 1000u;
    if (cb_.usedTime) cb_.usedTime(FormatDuration(true, used));
}

void TSurfaceRun::KeepRecord(SurfaceRunResult& result, const std::string& label, int driveNumber,
                             const std::string& devicePath, int64_t endSector, int64_t startUnix) {
    // A drive that names itself in no lasting way (a loop device) has no record to replace.
    if (label.empty()) return;
    ScanRecord r;
    r.id = label;
    r.driveNumber = driveNumber;
    r.device = devicePath;
    r.node = result.node;
    r.startSector = 0;
    r.endSector = endSector;
    r.stopSector = result.CurrentSector;
    r.blocksRead = result.readTimes.Blocks();
    r.failedBlocks = result.ErrorCount;
    r.readTimes = result.readTimes.Counts();
    r.startUnix = startUnix;
    r.durationSeconds = static_cast<uint32_t>(platform_.GetTickCount() - StartTick) / 1000.0;
    r.aborted = result.aborted;
    r.vanished = result.vanished;
    r.completed = !result.aborted && !result.vanished;
    if (platform_.SaveScanRecord(ScanRecordKey(label), ScanRecordJson(r))) {
        result.recordKept = true;
        return;
    }
    // Error 0: the machine keeps no records (a simulated one without a state folder).
    if (const uint32_t e = platform_.GetLastError(); e != 0) result.recordError = TrimmedText(platform_.SystemErrorText(e));
}

SurfaceRunResult TSurfaceRun::Run(const std::string& devicePath, const std::string& displayName,
                                  int64_t endSector, const DriveIdentity* expected) {
    SurfaceRunResult result;
    TSectorReader reader(platform_);
    if (!reader.Open(devicePath, expected)) {
        result.wrongDisk = reader.WrongDisk;
        if (!result.wrongDisk) result.openError = platform_.SystemErrorText(platform_.GetLastError());
        return result;
    }
    result.opened = true;
    TReadWindow window(platform_, reader, QueueDepth);
    window.Start(endSector);
    result.readMode = window.Describe();
    if (cb_.readMode) cb_.readMode(result.readMode);
    result.node = reader.Identity.node;

    // Who the drive is, asked before reading: a drive that goes midway still gets its record.
    const std::optional<int> driveNumber = platform::PhysicalDriveNumber(devicePath);
    std::string recordLabel;
    if (driveNumber) recordLabel = QueryDriveStableId(platform_, *driveNumber).Label();
    const int64_t startUnix = static_cast<int64_t>(std::time(nullptr));

    int64_t current = 0;
    StartTick = platform_.GetTickCount();
    while (current < endSector) {
        if (cb_.pump) cb_.pump();
        const BlockRead block = window.Next(current);
        const bool failed = block.status != 0;
        result.readTimes.Add(current, failed, block.micros);
        if (cb_.blockTimed) cb_.blockTimed(current, ClassOfRead(failed, block.micros), block.micros);
        if (failed) {
            // A gone drive ends the run here, as an abort does: the blocks after it
            // were not read, and one line says why instead of one per block.
            const bool vanished = TSectorReader::VanishedError(block.error);
            if (cb_.log)
                cb_.log(vanished ? "Drive vanished at sector " + std::to_string(current) + ": " +
                                       TrimmedText(platform_.SystemErrorText(block.error))
                                 : "Sector Error @: " + std::to_string(current));
            ++result.ErrorCount;
            if (cb_.blockFailed) cb_.blockFailed(result.ErrorCount, current);
            if (vanished) {
                result.vanished = true;
                break;
            }
        }
        const int progress = Progress(current, endSector);
        if (cb_.progress) cb_.progress(progress);
        if (cb_.trayHint) cb_.trayHint(TrayHint(displayName, progress, current));
        if (cb_.pump) cb_.pump();
        if (cb_.abortRequested && cb_.abortRequested()) {
            result.aborted = true;
            break;
        }
        ShowTestTimes(RefreshInterval, current, endSector);
        current += SectorsPerRead;
    }
    window.Stop();
    reader.Close();
    result.CurrentSector = current;
    if (driveNumber) KeepRecord(result, recordLabel, *driveNumber, devicePath, endSector, startUnix);
    return result;
}
