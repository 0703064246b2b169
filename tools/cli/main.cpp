// scandor-cli: the drive list, the S.M.A.R.T. test and the surface test without a
// window, for servers and scripts.
#include <csignal>
#include <exception>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "commands.h"
#include "options.h"
#include "platform/platform.h"

namespace {

extern "C" void OnAbortSignal(int) { cli::AbortSignal = 1; }

// The handler resets itself: the first Ctrl-C asks the test to stop after its
// block, a second one ends the program at once.
void InstallAbortHandlers() {
    struct sigaction sa {};
    sa.sa_handler = OnAbortSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESETHAND | SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

const char* CommandName(cli::Command c) {
    switch (c) {
        case cli::Command::List: return "list";
        case cli::Command::Smart: return "smart";
        case cli::Command::Surface: return "surface";
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
        std::cerr << "scandor-cli: " << o.error << "\nTry 'scandor-cli --help'.\n";
        if (o.json) cli::PrintJson({{"command", CommandName(o.command)}, {"error", o.error}, {"exitCode", cli::ExitUsage}});
        return cli::ExitUsage;
    }
    std::unique_ptr<platform::Platform> p;
    try {
        p = platform::CreatePlatformFromEnvironment();
    } catch (const std::exception& e) {
        return cli::Fail(o, CommandName(o.command), cli::ExitUnreadable, std::string("no machine: ") + e.what());
    }
    // Only the surface test has a place to stop early; elsewhere Ctrl-C ends the program.
    if (o.command == cli::Command::Surface) InstallAbortHandlers();
    try {
        switch (o.command) {
            case cli::Command::List: return cli::ListCommand(*p, o);
            case cli::Command::Smart: return cli::SmartCommand(*p, o);
            case cli::Command::Surface: return cli::SurfaceCommand(*p, o);
            default: break;
        }
    } catch (const std::exception& e) {
        return cli::Fail(o, CommandName(o.command), cli::ExitUnreadable, e.what());
    }
    return cli::ExitUsage;
}
