// libFuzzer target: the Windows-1252 conversions. Every byte string survives the
// trip to UTF-8 and back; UTF-8 text becomes one byte per character, and the
// characters the code page holds come back unchanged.
#include "fuzz_check.h"
#include "platform/text.h"
#include "shell/cp1252.h"
#include "shell/translation.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input = AsText(data, size);

    const std::string utf8 = cp1252::ToUtf8(input);
    FUZZ_CHECK(IsUtf8(utf8));
    FUZZ_CHECK(cp1252::FromUtf8(utf8) == input);
    FUZZ_CHECK(translation::DecodeCodePage(input, 1252) == utf8);

    // The input as UTF-8: one byte per decoded character.
    const std::string bytes = cp1252::FromUtf8(input);
    size_t characters = 0;
    std::string kept;  // the characters the code page holds, as UTF-8
    std::string keptBytes;
    for (size_t i = 0; i < input.size();) {
        const size_t at = i;
        const char32_t cp = platform::text::NextUtf8(input, i);
        FUZZ_CHECK(i > at && i <= input.size());
        ++characters;
        const int b = cp1252::FromCodePoint(cp);
        if (b >= 0) {
            FUZZ_CHECK(b <= 0xFF && cp1252::ToCodePoint(static_cast<unsigned char>(b)) == cp);
            kept.append(input.substr(at, i - at));
            keptBytes += static_cast<char>(b);
        }
    }
    FUZZ_CHECK(bytes.size() == characters);
    FUZZ_CHECK(cp1252::ToUtf8(keptBytes) == kept);
    return 0;
}
