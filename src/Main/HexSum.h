// The byte sum shared by the HEX record checksum and the bootloader frames.
#pragma once

#include <string>
#include <string_view>

// The low byte of the sum of the two-digit pairs of `hex`, as two upper-case hex digits.
// A pair that is not two hexadecimal digits (either case) adds 0; "" gives "00".  A single
// character left at the end of an odd-length text is read as a pair on its own.
std::string SumHexBytes(std::string_view hex);

// Value of one hexadecimal digit of either case, or -1.
int HexDigitValue(char c);
