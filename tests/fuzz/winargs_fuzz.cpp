// libFuzzer target: the Windows command-line splitter and the desktop entry writer.
// The Exec line of an entry, read back by the Desktop Entry rules, gives the target
// and exactly the arguments the splitter found; no text can add a line to the entry.
#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz_check.h"
#include "platform/desktopentry.h"
#include "shell/autostart.h"

using namespace platform;

namespace {

// A string value of a desktop entry: \s \n \t \r \\.
std::string UnescapeString(std::string_view v) {
    std::string out;
    for (size_t i = 0; i < v.size(); ++i) {
        if (v[i] != '\\') {
            out += v[i];
            continue;
        }
        FUZZ_CHECK(i + 1 < v.size());
        const char c = v[++i];
        if (c == 's') out += ' ';
        else if (c == 'n') out += '\n';
        else if (c == 't') out += '\t';
        else if (c == 'r') out += '\r';
        else if (c == '\\') out += '\\';
        else FUZZ_CHECK(false);
    }
    return out;
}

// The arguments of an Exec value whose every argument is quoted.
std::vector<std::string> ExecArguments(const std::string& exec) {
    std::vector<std::string> args;
    size_t i = 0;
    while (i < exec.size()) {
        FUZZ_CHECK(exec[i] == '"');
        std::string arg;
        for (++i;; ++i) {
            FUZZ_CHECK(i < exec.size());
            const char c = exec[i];
            if (c == '"') break;
            if (c == '\\') {
                FUZZ_CHECK(i + 1 < exec.size());
                const char next = exec[++i];
                FUZZ_CHECK(next == '"' || next == '`' || next == '$' || next == '\\');
                arg += next;
            } else if (c == '%') {
                FUZZ_CHECK(i + 1 < exec.size() && exec[i + 1] == '%');
                arg += exec[++i];
            } else {
                FUZZ_CHECK(c != '`' && c != '$');
                arg += c;
            }
        }
        ++i;
        args.push_back(std::move(arg));
        if (i < exec.size()) {
            FUZZ_CHECK(exec[i] == ' ');
            ++i;
        }
    }
    return args;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    ShortcutSpec shortcut;
    shortcut.target = in.ConsumeRandomLengthString(64);
    shortcut.workingDirectory = in.ConsumeRandomLengthString(64);
    shortcut.iconPath = in.ConsumeRandomLengthString(32);
    shortcut.arguments = in.ConsumeRemainingBytesAsString();

    const std::vector<std::string> args = SplitWindowsArguments(shortcut.arguments);
    for (const auto& a : args) FUZZ_CHECK(a.size() <= shortcut.arguments.size());

    const std::string entry = DesktopEntryText(shortcut);
    std::vector<std::string> lines = SplitAt(entry, '\n');
    FUZZ_CHECK(!lines.empty() && lines.back().empty());
    lines.pop_back();
    int execLines = 0;
    for (const std::string& line : lines) {
        const size_t eq = line.find('=');
        if (line == "[Desktop Entry]") continue;
        FUZZ_CHECK(eq != std::string::npos);
        const std::string key = line.substr(0, eq);
        const std::string value = UnescapeString(std::string_view(line).substr(eq + 1));
        if (key == "Exec") {
            ++execLines;
            std::vector<std::string> expected{shortcut.target};
            expected.insert(expected.end(), args.begin(), args.end());
            FUZZ_CHECK(ExecArguments(value) == expected);
        } else if (key == "Path") {
            FUZZ_CHECK(value == shortcut.workingDirectory);
        } else if (key == "Icon") {
            FUZZ_CHECK(value == shortcut.iconPath);
        } else {
            FUZZ_CHECK(key == "Type" || key == "Version" || key == "Name" || key == "Comment" ||
                       key == "Terminal" || key == "X-GNOME-Autostart-enabled");
        }
    }
    FUZZ_CHECK(execLines == 1);

    // The autostart parameters split into the drive number and the log file.
    if (shortcut.workingDirectory.find('"') == std::string::npos &&
        shortcut.workingDirectory.find('\0') == std::string::npos) {
        const std::string log = LogFileInFolder(shortcut.workingDirectory, '/');
        const auto parts = SplitWindowsArguments(BuildParameterString(7, log));
        FUZZ_CHECK((parts == std::vector<std::string>{"7", log}));
    }
    return 0;
}
