// scandor-cli: the drive list, the S.M.A.R.T. test and the surface test without a
// window, for servers and scripts.
#include <exception>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "commands.h"
#include "drive/format.h"
#include "options.h"
#include "platform/platform.h"

namespace {

const char* CommandName(cli::Command c) {
    switch (c) {
        case cli::Command::List: return "list";
        case cli::Command::Smart: return "smart";
        case cli::Command::Surface: return "surface";
        case cli::Command::Metrics: return "metrics";
        case cli::Command::Check: return "check";
        default: return "";
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    const cli::Options o = cli::ParseOptions(args);
    if (o.command == cli::Command::Help) {
        std::cout << cli::HelpText();
        return cli::ExitHealthy;
    }
    if (!o.error.empty()) {
        std::cerr << "scandor-cli: " << cli::Printable(o.error) << "\nTry 'scandor-cli --help'.\n";
        if (o.json) cli::PrintJson({{"command", CommandName(o.command)}, {"error", o.error}, {"exitCode", cli::ExitUsage}});
        return cli::ExitUsage;
    }
    // Until a command says otherwise, a signal ends the program (exit 130).
    cli::InstallSignalHandlers();
    // Sizes in text read as the window shows them, in the user's locale; JSON
    // documents stay the same whatever the locale.
    if (!o.json) SetSizeDecimalSeparator(cli::DecimalSeparator());
    std::unique_ptr<platform::Platform> p;
    try {
        p = platform::CreatePlatformFromEnvironment();
    } catch (const std::exception& e) {
        return cli::Fail(o, CommandName(o.command), cli::ExitUnreadable, std::string("no machine: ") + e.what());
    }
    // Drives need the right to read them: asked for once, before anything is listed
    // or read (an image file or a node given by path is opened with the user's rights).
    const bool drives = o.command != cli::Command::Surface || o.driveNumber >= 0 || cli::FloppyLetter(o.target) != 0;
    if (drives) {
        if (const std::string refused = p->ObtainDriveAccess(); !refused.empty()) {
            if (o.command != cli::Command::List || !o.json)
                return cli::Fail(o, CommandName(o.command), cli::ExitUnreadable, refused);
            // The list's document keeps its shape: the error beside an empty list.
            std::cerr << "scandor-cli: " << cli::Printable(refused) << '\n';
            cli::PrintJson({{"command", "list"},
                            {"test", o.smartList ? "smart" : "surface"},
                            {"drives", nlohmann::ordered_json::array()},
                            {"exitCode", cli::ExitUnreadable},
                            {"error", refused}});
            return cli::ExitUnreadable;
        }
    }
    try {
        switch (o.command) {
            case cli::Command::List: return cli::ListCommand(*p, o);
            case cli::Command::Smart: return cli::SmartCommand(*p, o);
            case cli::Command::Surface: return cli::SurfaceCommand(*p, o);
            case cli::Command::Metrics: return cli::MetricsCommand(*p, o);
            case cli::Command::Check: return cli::CheckCommand(*p, o);
            default: break;
        }
    } catch (const std::exception& e) {
        return cli::Fail(o, CommandName(o.command), cli::ExitUnreadable, e.what());
    }
    return cli::ExitUsage;
}
