// Windows: the arguments as UTF-16, the console's control handler, UTF-8 output with escape
// sequences and the regional time format.  Text crosses the system in UTF-16 (the …W
// calls), so nothing depends on the process's ANSI code page.
#include "Console.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <shellapi.h>

#include <atomic>
#include <cwchar>

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

std::string Utf8(const wchar_t* text, int length) {
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string utf8(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
    if (n > 0) {
        ::WideCharToMultiByte(CP_UTF8, 0, text, length, utf8.data(), n, nullptr, nullptr);
    }
    return utf8;
}

} // namespace

namespace Console {

std::vector<std::string> Arguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr) {
        return std::vector<std::string>(argv + 1, argv + argc); // out of memory
    }
    std::vector<std::string> args;
    for (int i = 1; i < count; ++i) {
        args.push_back(Utf8(wide[i], static_cast<int>(std::wcslen(wide[i]))));
    }
    ::LocalFree(wide);
    return args;
}

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
    wchar_t text[64];
    const int n = ::GetTimeFormatW(LOCALE_USER_DEFAULT, 0, nullptr, nullptr, text, 64);
    return n > 1 ? Utf8(text, n - 1) : std::string();
}

} // namespace Console
