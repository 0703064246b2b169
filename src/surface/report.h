// The surface test report: the fixed 19 lines written into the Report memo and
// mailed as the e-mail body.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <locale>
#include <string>
#include <vector>

// The maker's web site, the report's last line.
inline constexpr const char* MakerWebAddress = "http://www.kaveno.de";

struct SurfaceReportInput {
    std::string devicePath;     // "\\.\PhysicalDrive0"
    std::string displayName;    // the drive list's text for the entry
    int64_t startSector = 0;
    int64_t endSector = 0;
    int64_t currentSector = 0;  // where the run stopped
    int64_t errorCount = 0;
    std::string dateTime;       // see ReportDateTime
    std::string computerName;
    std::string userName;
    std::string ipAddress;
};

// One line per element, UTF-8, without line ends.
std::vector<std::string> BuildSurfaceReport(const SurfaceReportInput& in);

namespace platform { class Platform; }

// The report's facts for a run on this machine: the run's figures with the
// current date and time, the computer and user names and the local address.
SurfaceReportInput SurfaceReportOfRun(platform::Platform& platform, const std::string& devicePath,
                                            const std::string& displayName, int64_t startSector,
                                            int64_t endSector, int64_t currentSector, int64_t errorCount);

// The local wall-clock time, broken down; injectable so tests need no real clock.
using LocalClock = std::function<std::tm()>;
std::tm LocalTimeNow();

// The user's locale from the environment, or the classic one when the environment
// names a locale the system does not have.
std::locale UserLocale();

// The report's date line: the short date, one space, the long time, each in the
// given locale's format (%x and %X). The clock is read twice, date first, then time,
// as two separate readings.
std::string ReportDateTime(const LocalClock& clock = LocalTimeNow,
                           const std::locale& locale = UserLocale());

