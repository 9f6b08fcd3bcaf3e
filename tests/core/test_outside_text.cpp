// The gate for outside text: what a terminal, a window, a JSON line and a CSV field get of a
// unit's description, a process's name or a file's name.
#include <gtest/gtest.h>

#include <string>

#include "OutsideText.h"

namespace {

struct TCase {
    const char* Name;
    std::string Text;
    std::string Shown; // one line
    std::string Json;  // without its quotes
};

// U+202E RIGHT-TO-LEFT OVERRIDE, U+2066 LEFT-TO-RIGHT ISOLATE, U+0085 NEXT LINE (C1) and
// U+009B CONTROL SEQUENCE INTRODUCER (C1), as UTF-8.
const std::string Rlo = "\xE2\x80\xAE", Lri = "\xE2\x81\xA6", Nel = "\xC2\x85", Csi = "\xC2\x9B";

const TCase Cases[] = {
    {"plain ASCII", "minicom 1234", "minicom 1234", "minicom 1234"},
    {"Cyrillic", "Визначино: ТАРВЕКС", "Визначино: ТАРВЕКС", "Визначино: ТАРВЕКС"},
    {"clear and retitle", "\x1b[2J\x1b]0;PWNED\x07", "\\x1b[2J\\x1b]0;PWNED\\x07",
     "\\u001b[2J\\u001b]0;PWNED\\u0007"},
    {"right-to-left override", "evil" + Rlo + "txt.exe", "evil\\u202etxt.exe",
     "evil\\u202etxt.exe"},
    {"isolate", Lri + "a", "\\u2066a", "\\u2066a"},
    {"C1 controls", Nel + "x" + Csi + "2J", "\\u0085x\\u009b2J", "\\u0085x\\u009b2J"},
    {"a lone byte that terminals read as CSI", std::string("a\x9B") + "2Jb", "a\\x9b2Jb",
     "a\\ufffd2Jb"},
    {"a cut UTF-8 sequence", "\xD0", "\\xd0", "\\ufffd"},
    {"DEL and NUL", std::string("a\x7F\0b", 4), "a\\x7f\\x00b", "a\\u007f\\u0000b"},
    {"line ends and tab", "a\r\nb\tc", "a\\x0d\\x0ab\\x09c", "a\\r\\nb\\tc"},
    {"quotes and backslashes", "C:\\fw \"new\".hex", "C:\\fw \"new\".hex",
     "C:\\\\fw \\\"new\\\".hex"},
    {"characters beside the bidirectional ones", "\xE2\x80\x8F\xE2\x80\xA9\xE2\x81\xAA",
     "\xE2\x80\x8F\xE2\x80\xA9\xE2\x81\xAA", "\xE2\x80\x8F\xE2\x80\xA9\xE2\x81\xAA"},
    {"empty", "", "", ""},
};

TEST(OutsideText, ControlAndBidirectionalCharactersBecomeVisibleEscapes) {
    for (const TCase& c : Cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(ShownText(c.Text), c.Shown);
        EXPECT_EQ(JsonString(c.Text), "\"" + c.Json + "\"");
        // Showing twice changes nothing: the escapes are plain text.
        EXPECT_EQ(ShownText(ShownText(c.Text)), c.Shown);
    }
}

TEST(OutsideText, AMessageKeepsItsOwnLineBreaksOnly) {
    EXPECT_EQ(ShownText("Визначино:\r\n\x1b[2J" + Rlo + "\nB\rC\t", TLineBreaks::Kept),
              "Визначино:\r\n\\x1b[2J\\u202e\nB\rC\\x09");
}

} // namespace
