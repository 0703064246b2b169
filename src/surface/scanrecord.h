// The result of one surface scan as kept in the state folder, for the metrics
// of later runs: small JSON, one per drive identity, the newest replacing the older.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "surface/readtimes.h"

namespace platform { class Platform; }

struct ScanRecord {
    std::string id;              // the drive's stable identity label
    int driveNumber = -1;        // at the time of the scan; numbers move
    std::string device;          // \\.\PhysicalDriveN
    std::string node;            // the node read
    int64_t startSector = 0, endSector = 0, stopSector = 0;
    int64_t blocksRead = 0, failedBlocks = 0;
    std::array<int64_t, ReadClassCount> readTimes{};
    int64_t startUnix = 0;       // seconds since 1970
    double durationSeconds = 0;
    bool completed = false;      // read to the end: neither aborted nor cut by a vanished drive
    bool aborted = false;
    bool vanished = false;
};

std::string ScanRecordJson(const ScanRecord& r);
// nullopt for text that is not a record (malformed, wrong types, negative counts).
std::optional<ScanRecord> ParseScanRecord(const std::string& text);
