// One JSON object on one line, built field by field.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "OutsideText.h" // JsonString

class TJsonObject {
public:
    TJsonObject& Add(std::string_view key, std::string_view value);
    TJsonObject& Add(std::string_view key, const char* value) {
        return Add(key, std::string_view(value));
    }
    TJsonObject& Add(std::string_view key, std::int64_t value);
    TJsonObject& Add(std::string_view key, int value) {
        return Add(key, static_cast<std::int64_t>(value));
    }
    TJsonObject& Add(std::string_view key, bool value);
    // Seconds and the like: three decimals, whatever the locale.
    TJsonObject& AddSeconds(std::string_view key, double value);
    TJsonObject& Add(std::string_view key, const TJsonObject& value);
    TJsonObject& Add(std::string_view key, const std::vector<std::int64_t>& values);
    TJsonObject& Add(std::string_view key, const std::vector<std::string>& values);

    // The object's text, without a line end.
    std::string Text() const { return "{" + Body + "}"; }

private:
    void Key(std::string_view key);
    std::string Body;
};
