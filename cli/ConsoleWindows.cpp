// Windows: the console's control handler, UTF-8 output with escape sequences and the
// regional time format.
#include "Console.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cctype>

namespace {

std::atomic<bool> Interrupted{false};
// Set by Finished; a close, logoff or shutdown waits for it.
HANDLE FinishedEvent = nullptr;
// What Windows gives a console program after its close event (5 s) or at logoff and
// shutdown, less a margin for the process's end.
constexpr DWORD EndingGraceMs = 4500;

BOOL WINAPI OnControl(DWORD type) {
    switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        // The second Ctrl+C goes on to the default handler, which ends the program.
        return Interrupted.exchange(true) ? FALSE : TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        // The process ends when this handler returns: the running writes stop at the
        // engine's next check and their records are written first.
        Interrupted.store(true);
        if (FinishedEvent != nullptr) {
            ::WaitForSingleObject(FinishedEvent, EndingGraceMs);
        }
        return TRUE;
    default:
        return FALSE;
    }
}

bool IsConsole(DWORD which) {
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(which), &mode) != 0;
}

void EnableEscapes(DWORD which) {
    const HANDLE handle = ::GetStdHandle(which);
    DWORD mode = 0;
    if (::GetConsoleMode(handle, &mode)) {
        ::SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
}

} // namespace

namespace Console {

void InstallInterruptHandler() {
    if (FinishedEvent == nullptr) {
        FinishedEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    ::SetConsoleCtrlHandler(OnControl, TRUE);
}

void Finished() {
    if (FinishedEvent != nullptr) {
        ::SetEvent(FinishedEvent);
    }
}

bool InterruptRequested() {
    return Interrupted.load();
}

void RequestInterrupt() {
    Interrupted.store(true);
}

void PrepareOutput() {
    ::SetConsoleOutputCP(CP_UTF8);
    EnableEscapes(STD_OUTPUT_HANDLE);
    EnableEscapes(STD_ERROR_HANDLE);
}

bool StdoutIsTerminal() {
    return IsConsole(STD_OUTPUT_HANDLE);
}

bool StderrIsTerminal() {
    return IsConsole(STD_ERROR_HANDLE);
}

int TerminalColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (::GetConsoleScreenBufferInfo(::GetStdHandle(STD_OUTPUT_HANDLE), &info)) {
        return info.srWindow.Right - info.srWindow.Left + 1;
    }
    return 0;
}

int TerminalRows() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (::GetConsoleScreenBufferInfo(::GetStdHandle(STD_OUTPUT_HANDLE), &info)) {
        return info.srWindow.Bottom - info.srWindow.Top + 1;
    }
    return 0;
}

std::string LongTimeText() {
    char text[64];
    const int n = ::GetTimeFormatA(LOCALE_USER_DEFAULT, 0, nullptr, nullptr, text, sizeof text);
    return n > 1 ? std::string(text, static_cast<std::size_t>(n - 1)) : std::string();
}

} // namespace Console
