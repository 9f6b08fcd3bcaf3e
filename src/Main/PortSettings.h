// The settings the main window gives its port BComPort1 when it creates it.
#pragma once

#include "BCPort.h"

// 8 data bits, no parity, one stop bit, 2048-byte buffers, and every time-out 1 ms, so a
// read of n bytes ends at the latest about n + 1 ms after it starts.  The port name and the
// rate come from the window's lists at every reopen.
void ApplyStoredPortSettings(TBComPort& port);
