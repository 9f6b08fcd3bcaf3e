// Windows: COM names, the regional settings' number separators, the local clock.
#include "SystemFacts.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <cctype>

namespace {

// "COM3" from "com3" or "\\.\COM3".
std::string PortName(const std::string& port) {
    std::string name = port.rfind("\\\\.\\", 0) == 0 ? port.substr(4) : port;
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return name;
}

} // namespace

namespace SystemFacts {

std::string OpenableName(const std::string& listName, const std::string&) {
    return listName;
}

std::string PortIdentity(const std::string& port) {
    return PortName(port);
}

std::string DeviceInstance(const std::string&) {
    return {};
}

std::string FolderStamp(const std::string&) {
    return {};
}

std::string NotSerialDevice(const std::string&) {
    return {}; // a COM name names a serial device, or nothing yet
}

int PortOpenProblem(const std::string& port) {
    // The device name is known to the system while the port is present; whether another
    // program holds it shows only when it is opened.
    const std::string name = PortName(port);
    const int n =
        ::MultiByteToWideChar(CP_UTF8, 0, name.data(), static_cast<int>(name.size()), nullptr, 0);
    std::wstring wide(n > 0 ? static_cast<std::size_t>(n) : 0, L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, name.data(), static_cast<int>(name.size()), wide.data(), n);
    wchar_t target[1024];
    return !wide.empty() && ::QueryDosDeviceW(wide.c_str(), target, 1024) != 0 ? 0 : 1;
}

void NumberSeparators(char& list, char& decimal) {
    // One ASCII character each, as the spreadsheet needs them; the usual pair otherwise.
    const auto setting = [](LCTYPE type, char fallback) {
        wchar_t text[8] = {};
        const int n = ::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, type, text, 8);
        return n == 2 && text[0] > L' ' && text[0] < 0x7F ? static_cast<char>(text[0]) : fallback;
    };
    decimal = setting(LOCALE_SDECIMAL, '.');
    list = setting(LOCALE_SLIST, decimal == ',' ? ';' : ',');
    if (list == decimal || (list != ',' && list != ';')) {
        list = decimal == ',' ? ';' : ',';
    }
}

bool BrokenDownTime(std::time_t t, std::tm& local, std::tm& utc) {
    return ::localtime_s(&local, &t) == 0 && ::gmtime_s(&utc, &t) == 0;
}

} // namespace SystemFacts
