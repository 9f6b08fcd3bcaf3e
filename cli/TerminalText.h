// Widths of UTF-8 texts on a terminal, counted in code points (the program's Cyrillic and
// the ports' names take one column each).
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

inline std::size_t CodePoints(std::string_view text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

// The first `limit` code points of a UTF-8 text.
inline std::string CutTo(const std::string& text, std::size_t limit) {
    std::size_t seen = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && seen++ == limit) {
            return text.substr(0, i);
        }
    }
    return text;
}

// The text with blanks after it up to `width` code points.
inline std::string Padded(const std::string& text, std::size_t width) {
    const std::size_t n = CodePoints(text);
    return n >= width ? text : text + std::string(width - n, ' ');
}
