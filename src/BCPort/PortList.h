// ListSerialPorts: the serial ports the operating system knows now, sorted as text.
#pragma once

#include <string>
#include <vector>

// Replaces the whole content of `list` with the sorted port names; raises EComPort
// message 15 (and leaves `list` as it was) when the system's list cannot be read.
void ListSerialPorts(std::vector<std::string>& list);
