#include "OutsideText.h"

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

char32_t CodePoint(std::string_view sequence) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(sequence[k]); };
    static constexpr unsigned char LeadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    char32_t c = byte(0) & LeadBits[sequence.size()];
    for (std::size_t k = 1; k < sequence.size(); ++k) {
        c = (c << 6) | (byte(k) & 0x3F);
    }
    return c;
}

// LRE, RLE, PDF, LRO, RLO and LRI, RLI, FSI, PDI: they reorder the text around them.
bool IsBidiControl(char32_t c) {
    return (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

// A piece of text: a run to pass on as it is, a character that must not pass raw, or a
// byte that is not UTF-8.
struct TPiece {
    enum class TKind { Plain, Control, Invalid } Kind;
    std::string_view Text;
    char32_t Code = 0; // the character (Control) or the byte (Invalid)
};

template <class F> void Walk(std::string_view text, F&& take) {
    std::size_t run = 0; // where the current plain run began
    const auto flush = [&](std::size_t end) {
        if (end > run) {
            take(TPiece{TPiece::TKind::Plain, text.substr(run, end - run)});
        }
    };
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t n = 1;
        TPiece piece{TPiece::TKind::Plain, {}};
        if (c < 0x20 || c == 0x7F) {
            piece = {TPiece::TKind::Control, text.substr(i, 1), c};
        } else if (c >= 0x80) {
            n = Utf8Length(text, i);
            if (n == 0) {
                n = 1;
                piece = {TPiece::TKind::Invalid, text.substr(i, 1), c};
            } else if (const char32_t code = CodePoint(text.substr(i, n));
                       (code >= 0x80 && code <= 0x9F) || IsBidiControl(code)) {
                piece = {TPiece::TKind::Control, text.substr(i, n), code};
            }
        }
        if (piece.Kind != TPiece::TKind::Plain) {
            flush(i);
            take(piece);
            run = i + n;
        }
        i += n;
    }
    flush(text.size());
}

std::string Escape(const char* format, char32_t code) {
    char text[16];
    std::snprintf(text, sizeof text, format, static_cast<unsigned>(code));
    return text;
}

} // namespace

std::string ShownText(std::string_view text, TLineBreaks breaks) {
    std::string shown;
    shown.reserve(text.size());
    Walk(text, [&](const TPiece& piece) {
        if (piece.Kind == TPiece::TKind::Plain ||
            (breaks == TLineBreaks::Kept && (piece.Code == '\r' || piece.Code == '\n') &&
             piece.Kind == TPiece::TKind::Control)) {
            shown += piece.Text;
        } else {
            shown += Escape(piece.Code < 0x80 || piece.Kind == TPiece::TKind::Invalid ? "\\x%02x"
                                                                                      : "\\u%04x",
                            piece.Code);
        }
    });
    return shown;
}

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    Walk(text, [&](const TPiece& piece) {
        if (piece.Kind == TPiece::TKind::Invalid) {
            out += "\\ufffd";
            return;
        }
        if (piece.Kind == TPiece::TKind::Control) {
            switch (piece.Code) {
            case '\n':
                out += "\\n";
                return;
            case '\r':
                out += "\\r";
                return;
            case '\t':
                out += "\\t";
                return;
            default:
                out += Escape("\\u%04x", piece.Code);
                return;
            }
        }
        for (const char c : piece.Text) {
            if (c == '"' || c == '\\') {
                out += '\\';
            }
            out += c;
        }
    });
    out += '"';
    return out;
}
