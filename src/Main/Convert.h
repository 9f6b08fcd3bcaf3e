// Text-to-number conversion with the rules and the error the users know from the window.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

// "'%s' is not a valid integer value", %s being the text as given.
class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Signed 32-bit conversion: leading blanks, an optional sign, then decimal digits, or "$"
// (also "0x") followed by hexadecimal digits.  Anything else, an empty text or a value out
// of range raises EConvertError.
std::int32_t StrToInt(std::string_view text);

// Reads a hexadecimal field of Windows-1251 text as StrToInt("$" + field) does.
std::int32_t HexFieldToInt(std::string_view field);

// Windows-1251 bytes (the instrument's and the HEX files' code page) as UTF-8.
std::string Cp1251ToUtf8(std::string_view bytes);
