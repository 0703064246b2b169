// The state folder's scan records, and the one way files are put into a folder
// that root writes: a fresh temporary beside the target, synced, renamed over it.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

namespace platform::linuxbe {

constexpr const char* DefaultScanRecordFolder = "/var/lib/kaveno-scandor/scans";
// A record is a few hundred bytes; anything far larger was not written by us.
constexpr size_t MaxScanRecordBytes = 64 * 1024;
constexpr size_t MaxScanRecords = 1024;

// [A-Za-z0-9._-], 1 to 128 characters: a file name that cannot leave the folder.
bool ValidScanRecordKey(const std::string& key);

// Writes name inside dir with the given mode: a temporary ".NAME.XXXXXX" made
// with O_EXCL|O_NOFOLLOW (never an existing file or link), written, fsynced, renamed
// over name, then the folder fsynced. A reader sees the old file or the new one,
// never a part. dir itself must not be a link. False with errno set on failure.
bool StoreFileAtomically(const std::string& dir, const std::string& name, const std::string& text, mode_t mode);

// Keeps json as dir/KEY.json (0600), replacing the record stored under key. The
// folder and its parent are made (0700) when missing. False with errno set:
// EINVAL for a key outside the charset, EPERM when root finds the folder owned
// by another user, else the failing call's error.
bool StoreScanRecordFile(const std::string& dir, const std::string& key, const std::string& json);

// The text of every regular *.json file in dir up to MaxScanRecordBytes, at most
// MaxScanRecords, in name order; links, larger files and others are skipped.
std::vector<std::string> LoadScanRecordFiles(const std::string& dir);

}  // namespace platform::linuxbe
