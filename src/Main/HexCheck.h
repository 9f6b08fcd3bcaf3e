// The line check that every firmware text passes before it becomes the flash image.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "WindowHost.h"

// Tests every record line of TextTerminal (a line beginning with ':') for an even number of
// characters after the ':' and for a balanced checksum, stepping the main gauge per line.
// On the first failing line: error beep, a message naming the line, gauge 0, false.
// Raises EGaugeRange for a text without lines and EConvertError for a checksum pair that is
// not hexadecimal (or a line that is ':' alone).
bool CheckHexLines(TWindowHost& host);

// prefix + line number + "! (" + the line + ")", the line converted to UTF-8.  A line longer
// than any Intel HEX record can be is cut, so a binary file cannot flood the message box.
std::string HexLineMessage(std::string_view prefix, std::size_t lineNumber, std::string_view line);

// Refuses the text at a failing line: error beep, HexLineMessage, gauge 0; returns false.
bool RefuseHexLine(TWindowHost& host, std::string_view prefix, std::size_t lineNumber,
                   std::string_view line);

inline constexpr std::string_view ParityPrefix = "Порушення парності у строці мікропрограми: ";
inline constexpr std::string_view ChecksumPrefix =
    "Помилка контрольної суми у строці мікропрограми: ";
