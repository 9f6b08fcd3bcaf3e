#include "Json.h"

#include <cmath>
#include <cstdio>

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
