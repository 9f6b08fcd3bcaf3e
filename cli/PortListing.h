// --list: the serial ports with what each one is and whether this user may open it.
#pragma once

// Prints the list (JSON lines with `json`); returns the exit code.
int RunPortList(bool json);
