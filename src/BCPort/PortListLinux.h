// ListSerialPorts on Linux, with the folders as parameters so that a made-up tree can
// stand in for the machine's.
#pragma once

#include <string>
#include <vector>

// The ports under `sysClassTty` (normally /sys/class/tty) that have a device behind them,
// without legacy UART slots that hold no UART, plus the symbolic links directly in `devDir`
// (normally /dev) that name a live pseudo-terminal, as a simulator or socat publishes one.
// Same contract as ListSerialPorts.
void ListSerialPortsIn(std::vector<std::string>& list, const std::string& sysClassTty,
                       const std::string& devDir);

// Sorts names as text, ignoring case, in the user's locale: COM1, COM10, COM2.
void SortPortNames(std::vector<std::string>& names);
