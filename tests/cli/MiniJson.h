// A strict reader of one JSON text, enough to check tarvex6-flash's --json lines.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

struct TJson {
    enum class TKind { Null, Bool, Number, String, Array, Object } Kind = TKind::Null;
    bool Bool = false;
    double Number = 0;
    std::string String;
    std::vector<TJson> Array;
    std::map<std::string, TJson> Object;

    bool Has(const std::string& key) const { return Object.count(key) != 0; }
    const TJson& operator[](const std::string& key) const {
        const auto it = Object.find(key);
        if (it == Object.end()) {
            throw std::runtime_error("no key " + key);
        }
        return it->second;
    }
    std::int64_t Int() const { return static_cast<std::int64_t>(Number); }
};

class TJsonReader {
public:
    // Throws std::runtime_error unless `text` is exactly one JSON value.
    static TJson Parse(std::string_view text) {
        TJsonReader r(text);
        TJson v = r.Value();
        r.Blanks();
        if (r.Pos != text.size()) {
            r.Fail("trailing characters");
        }
        return v;
    }

private:
    explicit TJsonReader(std::string_view text) : Text(text) {}

    [[noreturn]] void Fail(const std::string& why) const {
        throw std::runtime_error("JSON: " + why + " at " + std::to_string(Pos));
    }
    void Blanks() {
        while (Pos < Text.size() &&
               (Text[Pos] == ' ' || Text[Pos] == '\t' || Text[Pos] == '\n' || Text[Pos] == '\r')) {
            ++Pos;
        }
    }
    char Peek() {
        Blanks();
        if (Pos >= Text.size()) {
            Fail("unexpected end");
        }
        return Text[Pos];
    }
    void Expect(char c) {
        if (Peek() != c) {
            Fail(std::string("expected ") + c);
        }
        ++Pos;
    }
    bool Word(std::string_view w) {
        if (Text.substr(Pos, w.size()) == w) {
            Pos += w.size();
            return true;
        }
        return false;
    }

    TJson Value() {
        TJson v;
        const char c = Peek();
        if (c == '{') {
            v.Kind = TJson::TKind::Object;
            ++Pos;
            if (Peek() == '}') {
                ++Pos;
                return v;
            }
            while (true) {
                if (Peek() != '"') {
                    Fail("expected a key");
                }
                std::string key = StringValue();
                Expect(':');
                if (!v.Object.emplace(key, Value()).second) {
                    Fail("duplicate key " + key);
                }
                if (Peek() == ',') {
                    ++Pos;
                    continue;
                }
                Expect('}');
                return v;
            }
        }
        if (c == '[') {
            v.Kind = TJson::TKind::Array;
            ++Pos;
            if (Peek() == ']') {
                ++Pos;
                return v;
            }
            while (true) {
                v.Array.push_back(Value());
                if (Peek() == ',') {
                    ++Pos;
                    continue;
                }
                Expect(']');
                return v;
            }
        }
        if (c == '"') {
            v.Kind = TJson::TKind::String;
            v.String = StringValue();
            return v;
        }
        if (Word("true") || Word("false")) {
            v.Kind = TJson::TKind::Bool;
            v.Bool = Text[Pos - 1] == 'e' && Text[Pos - 2] == 'u';
            return v;
        }
        if (Word("null")) {
            return v;
        }
        const std::size_t start = Pos;
        if (Pos < Text.size() && Text[Pos] == '-') {
            ++Pos;
        }
        while (Pos < Text.size() &&
               ((Text[Pos] >= '0' && Text[Pos] <= '9') || Text[Pos] == '.' || Text[Pos] == 'e' ||
                Text[Pos] == 'E' || Text[Pos] == '+' || Text[Pos] == '-')) {
            ++Pos;
        }
        if (Pos == start) {
            Fail("unexpected character");
        }
        v.Kind = TJson::TKind::Number;
        v.Number = std::stod(std::string(Text.substr(start, Pos - start)));
        return v;
    }

    std::string StringValue() {
        Expect('"');
        std::string s;
        while (true) {
            if (Pos >= Text.size()) {
                Fail("unterminated string");
            }
            const char c = Text[Pos++];
            if (c == '"') {
                return s;
            }
            if (static_cast<unsigned char>(c) < 0x20) {
                Fail("control character in a string");
            }
            if (c != '\\') {
                s += c;
                continue;
            }
            if (Pos >= Text.size()) {
                Fail("unterminated escape");
            }
            const char e = Text[Pos++];
            switch (e) {
            case 'n':
                s += '\n';
                break;
            case 'r':
                s += '\r';
                break;
            case 't':
                s += '\t';
                break;
            case 'b':
                s += '\b';
                break;
            case 'f':
                s += '\f';
                break;
            case '/':
                s += '/';
                break;
            case '\\':
                s += '\\';
                break;
            case '"':
                s += '"';
                break;
            case 'u': {
                const auto code = static_cast<unsigned>(
                    std::stoul(std::string(Text.substr(Pos, 4)), nullptr, 16));
                Pos += 4;
                if (code < 0x80) {
                    s += static_cast<char>(code);
                } else if (code < 0x800) {
                    s += static_cast<char>(0xC0 | (code >> 6));
                    s += static_cast<char>(0x80 | (code & 0x3F));
                } else {
                    s += static_cast<char>(0xE0 | (code >> 12));
                    s += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
                    s += static_cast<char>(0x80 | (code & 0x3F));
                }
                break;
            }
            default:
                Fail("bad escape");
            }
        }
    }

    std::string_view Text;
    std::size_t Pos = 0;
};
