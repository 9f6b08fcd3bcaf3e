// Windows: the console's control handler, UTF-8 output with escape sequences, the regional
// time format and COM names.
#include "Console.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cctype>

namespace {

std::atomic<bool> Interrupted{false};

BOOL WINAPI OnControl(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) {
        return FALSE;
    }
    // The second Ctrl+C goes on to the default handler, which ends the program.
    return Interrupted.exchange(true) ? FALSE : TRUE;
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

// "COM3" from "com3" or "\\.\COM3".
std::string PortName(const std::string& port) {
    std::string name = port.rfind("\\\\.\\", 0) == 0 ? port.substr(4) : port;
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return name;
}

} // namespace

namespace Console {

void InstallInterruptHandler() {
    ::SetConsoleCtrlHandler(OnControl, TRUE);
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
    char target[1024];
    return !name.empty() && ::QueryDosDeviceA(name.c_str(), target, sizeof target) != 0 ? 0 : 1;
}

} // namespace Console
