// Device keys as USB serial drivers leave them in the registry, for the port-facts tests.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <optional>
#include <string>

// Writes the "Device Parameters" of `instance` (below HKLM\SYSTEM\CurrentControlSet\Enum, as
// "FTDIBUS\VID_0403+PID_6001+TVX0001A\0000") as its driver would: the port's name and, where
// given, the FTDI driver's latency timer.  False when the key cannot be made.
inline bool WriteDeviceParameters(const std::string& instance, const std::string& port,
                                  std::optional<DWORD> latencyTimer = std::nullopt) {
    const std::string parameters =
        "SYSTEM\\CurrentControlSet\\Enum\\" + instance + "\\Device Parameters";
    HKEY key = nullptr;
    if (::RegCreateKeyExA(HKEY_LOCAL_MACHINE, parameters.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                          &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    ::RegSetValueExA(key, "PortName", 0, REG_SZ, reinterpret_cast<const BYTE*>(port.c_str()),
                     static_cast<DWORD>(port.size() + 1));
    if (latencyTimer) {
        ::RegSetValueExA(key, "LatencyTimer", 0, REG_DWORD,
                         reinterpret_cast<const BYTE*>(&*latencyTimer), sizeof(DWORD));
    }
    ::RegCloseKey(key);
    return true;
}
