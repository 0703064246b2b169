#include "surface/report.h"

#include "drive/hostinfo.h"

#include <iomanip>
#include <sstream>
#include <stdexcept>

namespace {

const char* const Separator = "-----------------";

std::string Formatted(const std::tm& t, const char* format, const std::locale& locale) {
    std::ostringstream out;
    out.imbue(locale);
    out << std::put_time(&t, format);
    return out.str();
}

}  // namespace

std::vector<std::string> BuildSurfaceReport(const SurfaceReportInput& in) {
    return {
        "Drive Test Report",
        in.dateTime,
        Separator,
        "Drives IOCTL Name: " + in.devicePath,
        "Drives Real Name: " + in.displayName,
        Separator,
        "Computer: " + in.computerName,
        "User: " + in.userName,
        "IP: " + in.ipAddress,
        "",
        "Start Sector: " + std::to_string(in.startSector),
        "End Sector: " + std::to_string(in.endSector),
        "Test stops @ sector: " + std::to_string(in.currentSector),
        Separator,
        "Sector Read Errors: " + std::to_string(in.errorCount),
        in.errorCount == 0 ? ":-)" : ":(",
        Separator,
        "This email was generate with \"KAVENO Scandor\"",
        MakerWebAddress,
    };
}

std::tm LocalTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    return local;
}

std::string ReportDateTime(const LocalClock& clock, const std::locale& locale) {
    const std::tm dateReading = clock();
    const std::tm timeReading = clock();
    return Formatted(dateReading, "%x", locale) + " " + Formatted(timeReading, "%X", locale);
}

std::locale UserLocale() {
    try {
        return std::locale("");
    } catch (const std::runtime_error&) {
        return std::locale::classic();
    }
}

SurfaceReportInput SurfaceReportOfRun(platform::Platform& platform, const std::string& devicePath,
                                      const std::string& displayName, int64_t startSector, int64_t endSector,
                                      int64_t currentSector, int64_t errorCount) {
    SurfaceReportInput in;
    in.devicePath = devicePath;
    in.displayName = displayName;
    in.startSector = startSector;
    in.endSector = endSector;
    in.currentSector = currentSector;
    in.errorCount = errorCount;
    in.dateTime = ReportDateTime();
    in.computerName = ComputerNameForReport(platform);
    in.userName = UserNameForReport(platform);
    in.ipAddress = GetLocalIpAddress(platform);
    return in;
}
