// The three commands of scandor-cli. Each prints its text or JSON document on
// stdout, notes and errors on stderr, and returns the exit code.
#pragma once

#include <csignal>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "options.h"
#include "shell/messages.h"

namespace platform { class Platform; }

namespace cli {

// What SIGINT and SIGTERM do. Outside the scan and the delivery the program ends
// at once with ExitInterrupted; there the first signal sets AbortSignal (the scan
// stops after its block, the delivery is abandoned) and a second one ends it.
enum class SignalPhase : int { Exit = 0, Scan = 1, Delivery = 2 };
void InstallSignalHandlers();
// Enters a phase with AbortSignal cleared.
void SetSignalPhase(SignalPhase phase);
extern volatile std::sig_atomic_t AbortSignal;

int ListCommand(platform::Platform& p, const Options& o);
int SmartCommand(platform::Platform& p, const Options& o);
int SurfaceCommand(platform::Platform& p, const Options& o);
int MetricsCommand(platform::Platform& p, const Options& o);
int CheckCommand(platform::Platform& p, const Options& o);

// Every physical drive's metrics in the text exposition format; foundDrives: any drive was there.
std::string MetricsText(platform::Platform& p, bool& foundDrives);
// Mails a report with the saved e-mail settings (port 25); the delivery lines.
std::vector<std::string> SendByEmail(platform::Platform& p, const std::vector<std::string>& report);

// Shared by the commands.
MessageStrings EnglishMessages();
// Text from outside (device and file names, server replies, typed arguments) made
// safe for a terminal: control characters, C1 controls and bytes that are no UTF-8
// become C-style escapes ("\t", "\x1b", "\u009b", "\xff"); the rest is kept.
// keepTabs: TAB stays, for the reports' own table columns, where it forges nothing.
std::string Printable(const std::string& text, bool keepTabs = false);
// Each line through Printable (TABs kept) on stdout.
void PrintLines(const std::vector<std::string>& lines);
// The document, indented, on stdout; text that is not UTF-8 is replaced, never thrown on.
void PrintJson(const nlohmann::ordered_json& doc);
// An error on stderr (through Printable); with --json also a document {"command", "error", "exitCode"} on stdout.
int Fail(const Options& o, const std::string& command, int code, const std::string& text);
// Why a path cannot be opened, in the system's words.
std::string OpenErrorText(platform::Platform& p, const std::string& path);
// The locale's thousands separator, as the window groups raw values.
std::string GroupSeparator();
// The user's decimal separator (std::locale(""), not the process's C locale).
std::string DecimalSeparator();

}  // namespace cli
