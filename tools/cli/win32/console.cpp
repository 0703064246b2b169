// The console's counterparts of signals and the locale: Ctrl-C through the
// console's control handler, separators from the user's regional settings.
#include "platform/win32/windows_api.h"

#include "commands.h"

namespace cli {

volatile std::sig_atomic_t AbortSignal = 0;

namespace {

volatile std::sig_atomic_t Phase = static_cast<int>(SignalPhase::Exit);

// The console runs this on a thread of its own, where a signal would interrupt.
// Ctrl-C and Ctrl-Break stand for SIGINT, closing the console for SIGTERM.
BOOL WINAPI OnConsoleControl(DWORD) {
    if (Phase != static_cast<int>(SignalPhase::Exit) && AbortSignal == 0) {
        AbortSignal = 1;
        return TRUE;
    }
    // After a progress line, start on a line of its own.
    static const char text[] = "\nscandor-cli: interrupted\n";
    const bool scan = Phase == static_cast<int>(SignalPhase::Scan);
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), scan ? text : text + 1, scan ? sizeof text - 1 : sizeof text - 2,
                &written, nullptr);
    ::ExitProcess(ExitInterrupted);
}

// One character, as the reports use it; the given one when the setting is longer
// than a character or not ASCII.
std::string LocaleCharacter(LCTYPE item, char fallback) {
    wchar_t text[8] = {};
    if (::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, item, text, 8) != 2 || text[0] > 0x7f) return std::string(1, fallback);
    return std::string(1, static_cast<char>(text[0]));
}

}  // namespace

void InstallSignalHandlers() { ::SetConsoleCtrlHandler(OnConsoleControl, TRUE); }

void SetSignalPhase(SignalPhase phase) {
    AbortSignal = 0;
    Phase = static_cast<int>(phase);
}

std::string DecimalSeparator() { return LocaleCharacter(LOCALE_SDECIMAL, '.'); }

std::string GroupSeparator() { return LocaleCharacter(LOCALE_STHOUSAND, ','); }

}  // namespace cli
