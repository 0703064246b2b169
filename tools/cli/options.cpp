#include "options.h"

#include <cctype>

namespace cli {

namespace {

bool IsOption(const std::string& a) { return a.size() > 1 && a[0] == '-'; }

}  // namespace

bool ParseDriveNumber(const std::string& text, int& number) {
    if (text.empty() || text.size() > 4) return false;
    int n = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
        n = n * 10 + (c - '0');
    }
    number = n;
    return true;
}

char FloppyLetter(const std::string& target) {
    std::string t = target;
    if (t.size() >= 4 && t.compare(0, 4, "\\\\.\\") == 0) t = t.substr(4);
    if (t.size() == 3 && t[2] == '\\') t.pop_back();
    if (t.size() != 2 || t[1] != ':') return 0;
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(t[0])));
    return letter == 'A' || letter == 'B' ? letter : 0;
}

Options ParseOptions(const std::vector<std::string>& args) {
    Options o;
    std::vector<std::string> words;
    bool optionsEnded = false;
    bool smartFlag = false;
    bool expectDepth = false;
    bool expectTextfile = false;
    bool textfileGiven = false;
    for (const std::string& a : args) {
        if (expectTextfile) {
            expectTextfile = false;
            o.textfileDir = a;
            if (a.empty()) {
                o.error = "--textfile takes a folder";
                return o;
            }
        } else if (expectDepth) {
            expectDepth = false;
            int n = 0;
            // The same digits-only rule as a drive number, then the range.
            if (!ParseDriveNumber(a, n) || n < 1 || n > MaxQueueDepth) {
                o.error = "--queue-depth takes a number from 1 to " + std::to_string(MaxQueueDepth);
                return o;
            }
            o.queueDepth = n;
        } else if (optionsEnded || !IsOption(a)) {
            words.push_back(a);
        } else if (a == "--") {
            optionsEnded = true;
        } else if (a == "--help" || a == "-h") {
            o.command = Command::Help;
            return o;
        } else if (a == "--json") {
            o.json = true;
        } else if (a == "--smart") {
            smartFlag = true;
        } else if (a == "--email") {
            o.email = true;
        } else if (a == "--queue-depth") {
            expectDepth = true;
        } else if (a == "--email-on-problem") {
            o.emailOnProblem = true;
        } else if (a == "--textfile") {
            expectTextfile = true;
            textfileGiven = true;
        } else {
            o.error = "unknown option '" + a + "'";
            return o;
        }
    }
    if (expectTextfile) {
        o.error = "--textfile takes a folder";
        return o;
    }
    if (expectDepth) {
        o.error = "--queue-depth takes a number from 1 to " + std::to_string(MaxQueueDepth);
        return o;
    }
    if (words.empty()) {
        o.error = "no command given";
        return o;
    }
    const std::string& cmd = words[0];
    const size_t operands = words.size() - 1;
    if (cmd == "help") {
        o.command = Command::Help;
        return o;
    }
    if (cmd == "list") {
        o.command = Command::List;
        o.smartList = smartFlag;
        if (operands != 0) o.error = "list takes no operand";
    } else if (cmd == "smart") {
        o.command = Command::Smart;
        if (operands != 1) {
            o.error = "smart takes one drive number";
        } else if (!ParseDriveNumber(words[1], o.driveNumber)) {
            o.error = "'" + words[1] + "' is no drive number";
        } else {
            o.target = words[1];
        }
    } else if (cmd == "surface") {
        o.command = Command::Surface;
        if (operands != 1) {
            o.error = "surface takes one drive number, floppy drive or path";
        } else {
            o.target = words[1];
            // Digits alone are always a drive number; a file named so is given as ./N.
            const bool digits = o.target.find_first_not_of("0123456789") == std::string::npos;
            if (!ParseDriveNumber(o.target, o.driveNumber)) o.driveNumber = -1;
            if (digits && o.driveNumber < 0) o.error = "'" + o.target + "' is no drive number";
        }
    } else if (cmd == "metrics") {
        o.command = Command::Metrics;
        if (operands != 0) o.error = "metrics takes no operand";
    } else if (cmd == "check") {
        o.command = Command::Check;
        if (operands != 0) o.error = "check takes no operand";
    } else {
        o.error = "unknown command '" + cmd + "'";
        return o;
    }
    if (o.error.empty() && smartFlag && o.command != Command::List) o.error = "--smart belongs to list";
    if (o.error.empty() && o.email && o.command != Command::Surface && o.command != Command::Check)
        o.error = "--email belongs to surface and check";
    if (o.error.empty() && o.emailOnProblem && o.command != Command::Surface)
        o.error = "--email-on-problem belongs to surface";
    if (o.error.empty() && o.email && o.emailOnProblem) o.error = "give --email or --email-on-problem, not both";
    if (o.error.empty() && textfileGiven && o.command != Command::Metrics) o.error = "--textfile belongs to metrics";
    if (o.error.empty() && o.json && (o.command == Command::Metrics || o.command == Command::Check))
        o.error = "--json belongs to list, smart and surface";
    if (o.error.empty() && o.queueDepth && o.command != Command::Surface) o.error = "--queue-depth belongs to surface";
    return o;
}

const char* HelpText() {
    return R"(Usage: scandor-cli COMMAND [OPTIONS]

Free KAVENO Scandor on the command line: the same drive list, S.M.A.R.T. test and
sector surface test as the window. Drives are only ever read.

Commands:
  list [--smart]        The drive list of the sector test (with --smart: of the
                        S.M.A.R.T. test), one line per drive, TAB-separated:
                        number (A: or B: for a floppy), device path, caption,
                        interface type (- when unknown).
  smart N               The S.M.A.R.T. test of physical drive N; prints the report
                        that "Print Report" writes.
  surface N|PATH [--email | --email-on-problem] [--queue-depth N]
                        The surface test of physical drive N, a floppy drive (A:,
                        B:) or an image file or device node given by its absolute
                        path (digits alone are always a drive number: give a
                        file named so as ./N); anything but a block device or a
                        regular file is refused. Names the device node it read on
                        stderr, then prints the 19-line report, then the blocks by
                        read time and the first 20 slow blocks. With --email the
                        report is also sent with the saved e-mail settings, and the
                        delivery lines follow the report. --queue-depth sets the
                        reads kept in flight (1 to 256, default 32).
                        --email-on-problem sends the report only when a block
                        failed, the drive went, or a block took 500 ms or more.
                        /dev/disk/by-id/NAME names the physical drive carrying
                        that name.
                        While stderr is a terminal, one progress line rewrites
                        itself there. Ctrl-C (or SIGTERM) stops the test after the
                        block being read, and the report is still printed; a second
                        Ctrl-C ends the program at once. During delivery
                        Ctrl-C abandons it.
  metrics [--textfile DIR]
                        Every physical drive's S.M.A.R.T. values and last surface
                        scan in Prometheus's text format, on stdout or written
                        atomically as DIR/scandor.prom for node_exporter's
                        textfile collector.
  check [--email]       The S.M.A.R.T. test of every physical drive: one line per
                        drive (number, PASSED/FAILED/ERROR, identity, model), then
                        the report of each failing drive; with --email each such
                        report is sent with the saved e-mail settings.
  help, --help, -h      This text.

Options:
  --json                Print one JSON document instead of text (schema in the
                        README, section "scandor-cli").

Exit codes:
  0    healthy: no failing or failed attribute, no unreadable block
  1    problems found: a failing or failed attribute, an unreadable block
  2    usage error
  3    the device could not be opened or read at all (also: no drive listed,
       a drive without S.M.A.R.T. answers, an empty sector range)
  130  surface: stopped by Ctrl-C or SIGTERM before any problem was found;
       any command: ended by Ctrl-C or SIGTERM outside the scan and the delivery

The environment variable SCANDOR_MACHINE names a simulated machine
(docs/machine-manifest.md) to run on instead of the real one.
)";
}

}  // namespace cli
