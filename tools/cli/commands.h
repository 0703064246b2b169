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

// Set by SIGINT and SIGTERM; the surface test polls it once per block.
extern volatile std::sig_atomic_t AbortSignal;

int ListCommand(platform::Platform& p, const Options& o);
int SmartCommand(platform::Platform& p, const Options& o);
int SurfaceCommand(platform::Platform& p, const Options& o);

// Shared by the commands.
MessageStrings EnglishMessages();
void PrintLines(const std::vector<std::string>& lines);
// The document, indented, on stdout; text that is not UTF-8 is replaced, never thrown on.
void PrintJson(const nlohmann::ordered_json& doc);
// An error on stderr; with --json also a document {"command", "error", "exitCode"} on stdout.
int Fail(const Options& o, const std::string& command, int code, const std::string& text);
// Why a path cannot be opened, in the system's words.
std::string OpenErrorText(platform::Platform& p, const std::string& path);
// The locale's thousands separator, as the window groups raw values.
std::string GroupSeparator();

}  // namespace cli
