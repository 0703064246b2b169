// Byte counts and durations as the user reads them.
#pragma once

#include <cstdint>
#include <string>

// "1.50 KBytes ": units of 1024 up to TBytes, two decimals rounded half away from
// zero, the decimal separator of the locale the program runs in (LC_NUMERIC) or the
// one set below. UTF-8.
std::string FormatSize(int64_t bytes);
// For a front end that keeps the C locale for everything else (the command line):
// the separator FormatSize(bytes) uses from now on; empty: LC_NUMERIC's again.
// Call it before other threads start.
void SetSizeDecimalSeparator(const std::string& separator);
// The same with the decimal separator given (tests, or a caller with its own locale).
std::string FormatSize(int64_t bytes, const std::string& decimalSeparator);

// "2 h 2 min 5 sec", "1 min", "<1 min".
std::string FormatDuration(bool showSeconds, int64_t seconds);

// The decimal separator of the current C locale's LC_NUMERIC category.
std::string LocaleDecimalSeparator();
