// A resume entry of the drive list: the listed item it copies and the sector it
// resumes at. The drive list gets these from its caller, which keeps them.
#pragma once

#include <cstdint>
#include <optional>

struct ResumeEntry {
    int item = 0;                            // index into the names the fill listed
    std::optional<int64_t> actualSector;     // sign-extended 32-bit value; none: the entry has no record
};
