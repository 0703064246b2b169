// Startup-folder shortcuts as XDG desktop entries.
#pragma once

#include <string>
#include <vector>

#include "platform/invoker.h"
#include "platform/platform.h"

namespace platform {

// Splits an argument string as the Windows C runtime splits a command line, so
// the program started by an entry sees the arguments a Windows shortcut gives.
std::vector<std::string> SplitWindowsArguments(const std::string& arguments);

// One argument of an Exec key, quoted and escaped by the Desktop Entry rules.
std::string QuoteExecArgument(const std::string& argument);

// The whole entry: Exec runs the target with the arguments, in its working directory.
std::string DesktopEntryText(const ShortcutSpec& desc);

// Writes the entry (temporary file, then rename), readable by its owner and others.
// Sets errno and returns false on failure.
bool SaveDesktopEntry(const std::string& path, const ShortcutSpec& desc);

// The same for an entry in the user's home, written by root on their behalf:
// every folder below the home is reached without following a link and must
// belong to the user or root; missing folders and the entry are made the user's.
// A path outside the home, or with "." or ".." parts, is refused (EACCES).
bool SaveDesktopEntryFor(const InvokingUser& user, const std::string& path, const ShortcutSpec& desc);

}  // namespace platform
