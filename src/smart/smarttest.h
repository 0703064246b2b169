// One S.M.A.R.T. test run for one drive, as the window and a command-line front
// end both show it: the identification line, the summary rows, one row per
// attribute with its bar values, and the printable report.
#pragma once

#include "drive/driveidentity.h"

#include <cstdint>
#include <string>
#include <vector>

#include "smart/nvmehealth.h"
#include "smart/smartcatalog.h"

namespace platform { class Platform; }

struct SmartRow {
    int32_t id = 0;             // ATA attribute ID; 0 on an NVMe row
    int32_t offset = -1;        // NVMe row: the field's byte offset in the health log
    std::string caption, state, current, worst, threshold, raw;
    int barMaximum = 100;
    int barPosition = 0;
    bool bar = true;            // false: the row has no bar (NVMe counters)
    bool temperature = false;   // caption names a temperature: the bar keeps its pale background
};

struct SmartTestOutcome {
    std::string resInfo;          // the ResInfo text
    bool tableShown = false;      // false: the run stopped early, no rows
    std::string summary[3];       // "Temp ..°C", "Realloc Sec n" (NVMe: "Media Errors n"), passed/failed
    std::vector<SmartRow> attributes;
    TSmartResult result;          // what ReadSmartData gave (valid when tableShown); on the
                                  // NVMe road only the identification, temperature and counts
    bool wrongDisk = false;       // the drive number now leads to another disk than the one listed
    bool nvme = false;            // the drive answered NVMe Identify: the fields below hold
    NvmeIdentity nvmeIdentity;
    NvmeHealthLog nvmeHealth;
    NvmeRating nvmeRating;        // its rows are the attributes, in order
};

// True when a row is rated "Failing Now" or "Failed In Past".
bool SmartTestFailed(const SmartTestOutcome& o);

// The seven column captions of the attribute list.
extern const char* const SmartColumnCaptions[7];

// The bar's maximum for a current value: 255 above 200, 200 above 100, else 100.
int SmartBarMaximum(int current);

// startsmarttestClick's steps 5-10 for one drive. groupSeparator: the thousands separator for raw values.
// expected: the disk the drive list probed; every open of the drive must reach it, else
// the outcome says wrongDisk and shows nothing.
SmartTestOutcome RunSmartTest(platform::Platform& p, int32_t driveNumber, int64_t startSector, int64_t endSector,
                              const std::string& groupSeparator, const DriveIdentity* expected = nullptr);

// The report lines "Print Report" writes, from an outcome; none when no table was shown.
std::vector<std::string> SmartTestReport(const SmartTestOutcome& o, const std::string& dateTime,
                                         const std::string& computer, const std::string& user,
                                         const std::string& ip, const std::string& webAddress);
