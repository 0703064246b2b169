#ifndef _WIN32
#include <unistd.h>
#endif

#include <csignal>
#include <cstdint>
#include <iostream>
#include <locale>
#include <nlohmann/json.hpp>

#include "commands.h"
#include "platform/platform.h"
#include "shell/translation.h"
#include "surface/report.h"

namespace cli {

#ifndef _WIN32
volatile std::sig_atomic_t AbortSignal = 0;
#endif

#ifndef _WIN32  // Windows: win32/console.cpp
namespace {

volatile std::sig_atomic_t Phase = static_cast<int>(SignalPhase::Exit);

// Only async-signal-safe calls here. No SA_RESTART: a wait the program polls must
// see the signal instead of being silently resumed.
extern "C" void OnSignal(int) {
    if (Phase != static_cast<int>(SignalPhase::Exit) && AbortSignal == 0) {
        AbortSignal = 1;
        return;
    }
    // After a progress line, start on a line of its own.
    static const char text[] = "\nscandor-cli: interrupted\n";
    const bool scan = Phase == static_cast<int>(SignalPhase::Scan);
    (void)!::write(STDERR_FILENO, scan ? text : text + 1, scan ? sizeof text - 1 : sizeof text - 2);
    ::_exit(ExitInterrupted);
}

}  // namespace

void InstallSignalHandlers() {
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

void SetSignalPhase(SignalPhase phase) {
    AbortSignal = 0;
    Phase = static_cast<int>(phase);
}
#endif

std::string Printable(const std::string& text, bool keepTabs) {
    static const char* const Hex = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    const auto byteEscape = [&out](unsigned char b) {
        out += "\\x";
        out += Hex[b >> 4];
        out += Hex[b & 15];
    };
    for (size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x80) {
            if (b == '\t') out += keepTabs ? "\t" : "\\t";
            else if (b == '\n') out += "\\n";
            else if (b == '\r') out += "\\r";
            else if (b < 0x20 || b == 0x7F) byteEscape(b);
            else out += static_cast<char>(b);
            ++i;
            continue;
        }
        // One UTF-8 sequence: its length by the lead byte, then the shortest-form,
        // surrogate and range rules.
        const size_t length = b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
        uint32_t cp = length == 2 ? b & 0x1Fu : length == 3 ? b & 0x0Fu : b & 0x07u;
        bool valid = length != 0 && i + length <= text.size();
        for (size_t k = 1; valid && k < length; ++k) {
            const auto c = static_cast<unsigned char>(text[i + k]);
            if ((c & 0xC0) != 0x80) valid = false;
            cp = cp << 6 | (c & 0x3Fu);
        }
        if (valid && ((length == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
                      (length == 4 && (cp < 0x10000 || cp > 0x10FFFF))))
            valid = false;
        if (!valid) {
            byteEscape(b);
            ++i;
        } else if (cp < 0xA0) {
            // C1 controls: some terminals act on them as on ESC sequences
            out += "\\u00";
            out += Hex[cp >> 4];
            out += Hex[cp & 15];
            i += length;
        } else {
            out.append(text, i, length);
            i += length;
        }
    }
    return out;
}

MessageStrings EnglishMessages() {
    translation::TTranslator translator(translation::MainFormTable());
    MessageStrings m;
    translation::LoadMessageStrings(translator, m);
    return m;
}

void PrintLines(const std::vector<std::string>& lines) {
    for (const std::string& l : lines) std::cout << Printable(l, true) << '\n';
    std::cout.flush();
}

void PrintJson(const nlohmann::ordered_json& doc) {
    std::cout << doc.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
    std::cout.flush();
}

int Fail(const Options& o, const std::string& command, int code, const std::string& text) {
    std::cerr << "scandor-cli: " << Printable(text) << '\n';
    if (o.json) PrintJson({{"command", command}, {"error", text}, {"exitCode", code}});
    return code;
}

std::string OpenErrorText(platform::Platform& p, const std::string& path) {
    platform::Handle h = p.CreateFile(path, platform::GENERIC_READ,
                                      platform::FILE_SHARE_READ | platform::FILE_SHARE_WRITE,
                                      platform::OPEN_EXISTING, 0);
    if (h != platform::InvalidHandle) {
        p.CloseHandle(h);
        return "the device answers no disk query";
    }
    std::string text = p.SystemErrorText(p.GetLastError());
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    return text;
}

#ifndef _WIN32  // Windows: win32/console.cpp
std::string DecimalSeparator() {
    const char sep = std::use_facet<std::numpunct<char>>(UserLocale()).decimal_point();
    return std::string(1, sep);
}

std::string GroupSeparator() {
    const char sep = std::use_facet<std::numpunct<char>>(UserLocale()).thousands_sep();
    return std::string(1, sep);
}
#endif

}  // namespace cli
