#include "Protocol.h"

#include "HexSum.h"

namespace Protocol {

namespace {

constexpr char HexDigits[] = "0123456789ABCDEF";

void AppendHex(std::string& out, std::uint32_t value, int digits) {
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) {
        out += HexDigits[(value >> shift) & 0xF];
    }
}

// A field at 1-based positions first .. first+length-1, cut to what the reply holds.
std::string_view Field(std::string_view reply, std::size_t first, std::size_t length) {
    if (reply.size() < first) {
        return {};
    }
    return reply.substr(first - 1, length);
}

std::int32_t HexField(std::string_view field) {
    if (field.empty()) {
        return 0;
    }
    std::int32_t value = 0;
    for (const char c : field) {
        const int d = HexDigitValue(c);
        if (d < 0) {
            return 0;
        }
        value = value * 16 + d;
    }
    return value;
}

} // namespace

std::string BuildFrame(std::string_view payload) {
    std::string frame;
    frame.reserve(payload.size() + 4);
    frame += 'g';
    frame += payload;
    frame += SumHexBytes(payload);
    frame += ';';
    return frame;
}

std::string EraseFrame(std::int32_t address) {
    std::string payload = "04";
    AppendHex(payload, static_cast<std::uint32_t>(address), 6);
    return BuildFrame(payload);
}

void BuildWriteFrame(std::string& frame, std::int32_t blockNumber, std::string_view data) {
    frame.clear();
    frame.reserve(data.size() + 9);
    frame += "g05";
    AppendHex(frame, static_cast<std::uint32_t>(blockNumber), 2);
    frame += data;
    // The sum covers everything between "g" and itself.
    frame += SumHexBytes(std::string_view(frame).substr(1));
    frame += ';';
}

std::string_view ReplyCodeOf(std::string_view reply) {
    return Field(reply, 2, 2);
}

bool IsAnswered(std::string_view reply) {
    return !reply.empty() && reply.back() == ';';
}

bool IsAccepted(std::string_view reply, std::string_view prefix) {
    return reply.size() >= prefix.size() && reply.substr(0, prefix.size()) == prefix &&
           reply.back() == ';';
}

TFlashGeometry ParseGeometry(std::string_view reply) {
    TFlashGeometry g;
    g.LoaderVersion = std::string(Field(reply, 4, 2));
    g.BlocksPerErase = HexField(Field(reply, 10, 2));
    g.BlockSize = HexField(Field(reply, 12, 2));
    g.EraseCount = HexField(Field(reply, 14, 4));
    return g;
}

void AppendDescription(std::string& text, std::string_view trimmedReply) {
    if (trimmedReply.size() <= 2) {
        return;
    }
    const std::string_view body = trimmedReply.substr(0, trimmedReply.size() - 2);
    text.reserve(text.size() + body.size() * 2);
    for (const char c : body) {
        if (c == '\n') {
            const bool endsWithCrLf =
                text.size() >= 2 && text[text.size() - 2] == '\r' && text.back() == '\n';
            if (!text.empty() && !endsWithCrLf) {
                text += "\r\n";
            }
        } else if (c != '\0') {
            text += c;
        }
    }
}

std::string AddressText(std::int64_t address) {
    std::string text;
    int digits = 6;
    while (digits < 16 && (static_cast<std::uint64_t>(address) >> (digits * 4)) != 0) {
        ++digits;
    }
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) {
        text += HexDigits[(static_cast<std::uint64_t>(address) >> shift) & 0xF];
    }
    return text;
}

std::string CalibrationText(std::int32_t erasePause, std::int32_t writePause,
                            std::int32_t commitPause) {
    return "Автокалібровка: " + std::to_string(erasePause) + "." + std::to_string(writePause) +
           "." + std::to_string(commitPause);
}

std::size_t CharacterCount(std::string_view utf8) {
    std::size_t count = 0;
    for (const char c : utf8) {
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) {
            ++count;
        }
    }
    return count;
}

} // namespace Protocol
