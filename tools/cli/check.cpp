#include <iostream>

#include "commands.h"
#include "drive/hostinfo.h"
#include "drives.h"
#include "platform/platform.h"
#include "surface/report.h"

namespace cli {

int CheckCommand(platform::Platform& p, const Options& o) {
    const std::vector<int> numbers = PresentDriveNumbers(p);
    if (numbers.empty()) return Fail(o, "check", ExitUnreadable, "no physical drive found");
    bool failing = false, unchecked = false;
    std::vector<std::vector<std::string>> reports;
    for (int n : numbers) {
        const CheckedDrive d = CheckDrive(p, n);
        const std::string model = d.error.empty() ? d.smart.result.ModelNumber : d.stable.model;
        std::string verdict;
        if (!d.error.empty()) {
            verdict = "ERROR";
            unchecked = true;
            std::cerr << "scandor-cli: drive " << n << ": " << Printable(d.errorText) << '\n';
        } else if (SmartTestFailed(d.smart)) {
            verdict = "FAILED";
            failing = true;
            reports.push_back(SmartTestReport(d.smart, ReportDateTime(), ComputerNameForReport(p),
                                              UserNameForReport(p), GetLocalIpAddress(p), MakerWebAddress));
        } else {
            verdict = "PASSED";
        }
        std::cout << n << '\t' << verdict << '\t' << Printable(d.id.empty() ? "-" : d.id) << '\t'
                  << Printable(model.empty() ? "-" : model) << '\n';
    }
    for (const auto& report : reports) {
        std::cout << '\n';
        PrintLines(report);
        if (o.email) PrintLines(SendByEmail(p, report));
    }
    std::cout.flush();
    if (failing) return ExitProblems;
    return unchecked ? ExitUnreadable : ExitHealthy;
}

}  // namespace cli
