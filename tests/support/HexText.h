// Builds a HEX text for tests from its lines, each ended with CR LF as files usually are.
#pragma once

#include <string>
#include <vector>

inline std::string Lines(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& l : lines) {
        text += l + "\r\n";
    }
    return text;
}
