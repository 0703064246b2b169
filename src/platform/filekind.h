// Naming what a path is, for messages that refuse it.
#pragma once

#include <sys/types.h>

#include <string>

namespace platform {

// "a directory", "a FIFO", "a socket", "a character device", "a block device",
// "a regular file", "a special file".
std::string FileKindText(mode_t mode);

// A path for a message line: control characters as \xNN, so a crafted name
// cannot move the cursor or forge lines.
std::string PrintablePath(const std::string& path);

}  // namespace platform
