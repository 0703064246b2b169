// The scan records on disk: one file per drive identity in the state folder,
// replaced whole. Both the backend that runs as root and the helper store here.
#pragma once

#include <cstddef>
#include <string>

namespace platform::linuxbe {

inline constexpr const char* DefaultScanRecordDir = "/var/lib/kaveno-scandor/scans";
inline constexpr size_t MaxScanRecordBytes = 64 * 1024;

// [A-Za-z0-9._-], 1 to 128 characters, and not "." or "..".
bool IsScanRecordKey(const std::string& key);

// Writes json as dir/<key>.json, mode 0600, through a temporary file that is synced
// and renamed over the old record, so a crash leaves the old or the new one. The
// folder is created (0700) when missing; a folder or file that is a link is never
// followed. Returns 0, or the errno of the failure (EINVAL for a bad key, EFBIG for
// a text past MaxScanRecordBytes).
int StoreScanRecordFile(const std::string& dir, const std::string& key, const std::string& json);

}  // namespace platform::linuxbe
