#include "HexSum.h"

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

std::string SumHexBytes(std::string_view hex) {
    unsigned sum = 0;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int high = HexDigitValue(hex[i]);
        if (i + 1 < hex.size()) {
            const int low = HexDigitValue(hex[i + 1]);
            if (high >= 0 && low >= 0) {
                sum += static_cast<unsigned>(high * 16 + low);
            }
        } else if (high >= 0) {
            sum += static_cast<unsigned>(high); // the odd last digit alone
        }
    }
    static constexpr char Digits[] = "0123456789ABCDEF";
    return {Digits[(sum >> 4) & 0xF], Digits[sum & 0xF]};
}
