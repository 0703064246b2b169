// Autostart entries: a shortcut to the program in the user's Startup folder,
// with a parameter string naming a drive and a log file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform { class Platform; }

constexpr const char* ShortcutExtension = ".desktop";
constexpr const char* LogFileName = "MyLogFile.log";

// Drive number, a blank, the log file in double quotes.
std::string BuildParameterString(int32_t driveNumber, const std::string& logFile);

// A special folder's path with a trailing separator, or "" when it cannot be resolved.
std::string GetSpecialFolderPath(platform::Platform& platform, int folderId);

// The log file in a chosen folder. A root folder already ends with its
// separator and gets no second one.
std::string LogFileInFolder(const std::string& folder, char separator);

// The first free entry name in the folder: the executable's name with its
// extension replaced by ShortcutExtension, then by 1, 2, ... before it.
std::string FreeShortcutPath(platform::Platform& platform, const std::string& folder,
                             const std::string& executable);

// The program icon's name in the icon theme.
constexpr const char* ProgramIconName = "de.kaveno.Scandor";

// The folders desktops search for icon themes: $XDG_DATA_HOME (else
// ~/.local/share), then $XDG_DATA_DIRS (else /usr/local/share and /usr/share).
std::vector<std::string> IconDataFolders();

// An entry's Icon=: the themed name when the icon is installed in the hicolor
// theme of one of the folders, else the absolute path of the icon file that a
// build tree keeps beside the executable, else the themed name all the same.
std::string AutostartIcon(platform::Platform& platform, const std::vector<std::string>& dataFolders);

// Writes the entry; returns its path. A failed write is not reported, as on the
// platform the program was designed for; the caller does not look.
std::string InstallAutostartEntry(platform::Platform& platform, const std::string& arguments);
