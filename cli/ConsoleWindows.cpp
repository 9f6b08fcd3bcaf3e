#include "Console.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <string>
#include <vector>

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

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
    const HANDLE handle = ::GetStdHandle(which);
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && handle != nullptr && ::GetConsoleMode(handle, &mode);
}

void EnableEscapes(DWORD which) {
    const HANDLE handle = ::GetStdHandle(which);
    DWORD mode = 0;
    if (handle != INVALID_HANDLE_VALUE && handle != nullptr && ::GetConsoleMode(handle, &mode)) {
        ::SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
}

// "COM3" for "com3", "\\.\COM3" and "//./com3".
std::string DeviceName(const std::string& port) {
    std::string name = port;
    if (name.size() > 4 && (name[0] == '\\' || name[0] == '/') &&
        (name[1] == '\\' || name[1] == '/') && name[2] == '.' &&
        (name[3] == '\\' || name[3] == '/')) {
        name = name.substr(4);
    }
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

std::string LongTimeText() {
    wchar_t wide[64];
    const int n = ::GetTimeFormatW(LOCALE_USER_DEFAULT, 0, nullptr, nullptr, wide, 64);
    if (n <= 1) {
        return {};
    }
    char text[256];
    const int bytes =
        ::WideCharToMultiByte(CP_UTF8, 0, wide, n - 1, text, sizeof text, nullptr, nullptr);
    return std::string(text, bytes > 0 ? static_cast<std::size_t>(bytes) : 0);
}

std::string PortIdentity(const std::string& port) {
    return DeviceName(port);
}

int PortOpenProblem(const std::string& port) {
    // Only whether the device exists: opening it to test the access would already switch
    // its modem lines, and that touches the instrument.
    std::vector<char> target(4096);
    const std::string name = DeviceName(port);
    if (::QueryDosDeviceA(name.c_str(), target.data(), static_cast<DWORD>(target.size())) == 0 &&
        ::GetLastError() == ERROR_FILE_NOT_FOUND) {
        return 1;
    }
    return 0;
}

} // namespace Console
