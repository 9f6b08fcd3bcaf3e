#include "Json.h"

#include <cmath>
#include <cstdio>

namespace {

// Length of the valid UTF-8 sequence at text[i], or 0.
std::size_t Utf8Length(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char c = byte(i);
    std::size_t n = 0;
    unsigned low = 0x80, high = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        low = c == 0xE0 ? 0xA0 : 0x80;
        high = c == 0xED ? 0x9F : 0xBF;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        low = c == 0xF0 ? 0x90 : 0x80;
        high = c == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (i + n > text.size()) {
        return 0;
    }
    for (std::size_t k = 1; k < n; ++k) {
        const unsigned b = byte(i + k);
        if (b < (k == 1 ? low : 0x80) || b > (k == 1 ? high : 0xBF)) {
            return 0;
        }
    }
    return n;
}

} // namespace

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        switch (c) {
        case '"':
            out += "\\\"";
            continue;
        case '\\':
            out += "\\\\";
            continue;
        case '\n':
            out += "\\n";
            continue;
        case '\r':
            out += "\\r";
            continue;
        case '\t':
            out += "\\t";
            continue;
        default:
            break;
        }
        if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (const std::size_t n = Utf8Length(text, i)) {
            out.append(text.substr(i, n));
            i += n - 1;
        } else {
            out += "\\ufffd";
        }
    }
    out += '"';
    return out;
}

void TJsonObject::Key(std::string_view key) {
    if (!Body.empty()) {
        Body += ',';
    }
    Body += JsonString(key);
    Body += ':';
}

TJsonObject& TJsonObject::Add(std::string_view key, std::string_view value) {
    Key(key);
    Body += JsonString(value);
    return *this;
}

TJsonObject& TJsonObject::Add(std::string_view key, std::int64_t value) {
    Key(key);
    Body += std::to_string(value);
    return *this;
}

TJsonObject& TJsonObject::Add(std::string_view key, bool value) {
    Key(key);
    Body += value ? "true" : "false";
    return *this;
}

TJsonObject& TJsonObject::AddSeconds(std::string_view key, double value) {
    Key(key);
    if (!std::isfinite(value)) {
        value = 0;
    }
    // Integer arithmetic, so no locale can turn the point into a comma.
    const auto millis = static_cast<std::int64_t>(std::llround(value * 1000.0));
    const std::int64_t whole = millis / 1000, part = millis % 1000;
    char text[40];
    std::snprintf(text, sizeof text, "%s%lld.%03lld", millis < 0 ? "-" : "",
                  static_cast<long long>(whole < 0 ? -whole : whole),
                  static_cast<long long>(part < 0 ? -part : part));
    Body += text;
    return *this;
}

TJsonObject& TJsonObject::Add(std::string_view key, const TJsonObject& value) {
    Key(key);
    Body += value.Text();
    return *this;
}

TJsonObject& TJsonObject::Add(std::string_view key, const std::vector<std::int64_t>& values) {
    Key(key);
    Body += '[';
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i > 0) {
            Body += ',';
        }
        Body += std::to_string(values[i]);
    }
    Body += ']';
    return *this;
}

TJsonObject& TJsonObject::Add(std::string_view key, const std::vector<std::string>& values) {
    Key(key);
    Body += '[';
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i > 0) {
            Body += ',';
        }
        Body += JsonString(values[i]);
    }
    Body += ']';
    return *this;
}
