<<<<<<< HEAD
// Windows: the console's control handler, UTF-8 output with escape sequences and the
// regional time format.
=======
// Windows: the arguments as UTF-16, the console's control handler, UTF-8 output with escape
// sequences, the regional time format and COM names.  Text crosses the system in UTF-16
// (the …W calls), so nothing depends on the process's ANSI code page.
>>>>>>> issue32
#include "Console.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <cctype>
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

<<<<<<< HEAD
=======
// "COM3" from "com3" or "\\.\COM3".
std::string PortName(const std::string& port) {
    std::string name = port.rfind("\\\\.\\", 0) == 0 ? port.substr(4) : port;
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return name;
}

std::string Utf8(const wchar_t* text, int length) {
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string utf8(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
    if (n > 0) {
        ::WideCharToMultiByte(CP_UTF8, 0, text, length, utf8.data(), n, nullptr, nullptr);
    }
    return utf8;
}

std::wstring Wide(const std::string& utf8) {
    const int length = static_cast<int>(utf8.size());
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
    std::wstring wide(n > 0 ? static_cast<std::size_t>(n) : 0, L'\0');
    if (n > 0) {
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, wide.data(), n);
    }
    return wide;
}

>>>>>>> issue32
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

<<<<<<< HEAD
=======
bool BrokenDownTime(std::time_t t, std::tm& local, std::tm& utc) {
    return ::localtime_s(&local, &t) == 0 && ::gmtime_s(&utc, &t) == 0;
}

std::string OpenableName(const std::string& listName, const std::string&) {
    return listName;
}

std::string PortIdentity(const std::string& port) {
    return PortName(port);
}

int PortOpenProblem(const std::string& port) {
    // The device name is known to the system while the port is present; whether another
    // program holds it shows only when it is opened.
    const std::string name = PortName(port);
    wchar_t target[1024];
    return !name.empty() && ::QueryDosDeviceW(Wide(name).c_str(), target, 1024) != 0 ? 0 : 1;
}

>>>>>>> issue32
} // namespace Console
