// The COM port the Windows tests use: TARVEX_WIN_PORT (COM7 when unset), mapped by
// scripts/windows.sh to a pseudo-terminal through HKLM\Software\Wine\Ports.
#pragma once

#include <cstdlib>
#include <string>

inline std::string WinTestPort() {
    const char* name = std::getenv("TARVEX_WIN_PORT");
    return name != nullptr && *name != '\0' ? name : "COM7";
}
