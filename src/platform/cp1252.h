// Windows-1252, the ANSI code page of the non-Windows backends. The five bytes
// the code page leaves undefined map to the C1 controls of the same number, so
// every byte value survives a round trip.
#pragma once

#include <string>
#include <string_view>

namespace cp1252 {

// UTF-8 -> Windows-1252. A character the code page lacks becomes '?', as the
// system conversion does; invalid UTF-8 bytes become '?' too.
std::string FromUtf8(std::string_view utf8);
// Windows-1252 -> UTF-8.
std::string ToUtf8(std::string_view bytes);

// One code point <-> one byte; -1 when the code point has no byte.
char32_t ToCodePoint(unsigned char byte);
int FromCodePoint(char32_t cp);

}  // namespace cp1252
