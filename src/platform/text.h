// Small text helpers shared by the layers: UTF-8 code points and ASCII case.
#pragma once

#include <string>
#include <string_view>

namespace platform::text {

// Appends one code point as UTF-8.
void AppendUtf8(std::string& out, char32_t cp);
// Decodes the UTF-8 sequence at s[i] and moves i past it; U+FFFD for a bad sequence
// (an overlong form, a surrogate, a truncated or stray byte).
char32_t NextUtf8(std::string_view s, size_t& i);
// Equal but for the case of ASCII letters, as Windows compares names.
bool SameIgnoringCase(std::string_view a, std::string_view b);

}  // namespace platform::text
