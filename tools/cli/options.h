// The command line of scandor-cli: what was asked for, or why it cannot be understood.
#pragma once

#include <string>
#include <vector>

namespace cli {

// Exit codes, the same for every command.
enum ExitCode : int {
    ExitHealthy = 0,
    ExitProblems = 1,      // a failing or failed attribute, an unreadable block
    ExitUsage = 2,
    ExitUnreadable = 3,    // the device could not be opened or read at all
    ExitInterrupted = 130, // surface: aborted by a signal before any problem was found
};

enum class Command { None, Help, List, Smart, Surface, Metrics, Check };

struct Options {
    Command command = Command::None;
    bool json = false;
    bool smartList = false;   // list --smart
    bool email = false;       // surface, check --email
    bool emailOnProblem = false;  // surface --email-on-problem
    std::string textfileDir;  // metrics --textfile DIR
    int queueDepth = 0;       // surface --queue-depth N; 0: the default
    std::string target;       // smart N, surface N|PATH, as typed
    int driveNumber = -1;     // smart N, or surface N
    std::string error;        // non-empty: a usage error
};

Options ParseOptions(const std::vector<std::string>& args);

// The largest drive number the command line takes (four digits).
constexpr int MaxDriveNumber = 9999;
// Accepts a decimal drive number without sign, 0 .. MaxDriveNumber.
bool ParseDriveNumber(const std::string& text, int& number);

// The floppy drive a target names ("A:", "b:", "A:\", "\\.\A:"): 'A', 'B' or 0.
char FloppyLetter(const std::string& target);

// Reads kept in flight that --queue-depth accepts.
constexpr int MaxQueueDepth = 256;

const char* HelpText();

}  // namespace cli
