// The firmware build the program carries: its Intel HEX text, version stamp and the window
// title that shows the stamp's date.
//
// The text is embedded at build time from firmware/ (BuiltinFirmware.cmake).  The build
// stops when the version stamp or the title's date disagrees with the version block of the
// embedded text (the 12-byte record at 0xF120: 55 AA AA 55, six ASCII digits, 02 00), so
// replacing the firmware means changing the two constants below as well.
#pragma once

#include <string_view>

// The six digits of the version block, year, month, day.
inline constexpr const char* BuiltinFirmwareVersion = "241004";
// The same date as day.month.year.
inline constexpr const char* BuiltinWindowTitle = "TARVEX-6 Bootloader (від 04.10.24)";

// The Intel HEX text as stored (CR LF line ends), for TextTerminal at start-up.
std::string_view BuiltinFirmwareText();
