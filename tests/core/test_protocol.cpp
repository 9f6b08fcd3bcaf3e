// Frames, reply judging, the identify reply's fields and the description text.
#include <gtest/gtest.h>

#include "Protocol.h"

using namespace Protocol;

TEST(ProtocolFrames, EraseFramesCarryTheLowByteOfTheSum) {
    const struct {
        std::int32_t address;
        const char* frame;
    } cases[] = {
        {0, "g0400000004;"},   {0x012345, "g040123456D;"}, {0xFFFFFF, "g04FFFFFF01;"},
        {256, "g0400010005;"}, {0x20, "g0400002024;"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EraseFrame(c.address), c.frame) << c.address;
    }
}

TEST(ProtocolFrames, WriteFrameAndFixedRequests) {
    std::string frame = "stale content that must go";
    BuildWriteFrame(frame, 1, "1234");
    EXPECT_EQ(frame, "g050112344C;");
    BuildWriteFrame(frame, 0xAB, "");
    EXPECT_EQ(frame, "g05ABB0;");
    BuildWriteFrame(frame, 2, "FFFF");
    EXPECT_EQ(frame, "g0502FFFF05;"); // 05 + 02 + FF + FF = 0x205
    for (const auto fixed : {ResetFrame, IdentifyFrame, DescribeFrame, CommitFrame}) {
        EXPECT_EQ(BuildFrame(fixed.substr(1, 2)), fixed);
    }
}

TEST(ProtocolJudging, PhaseReplies) {
    const struct {
        const char* reply;
        const char* prefix;
        bool accepted;
    } cases[] = {
        {"g84;", "g84", true},
        {"g8400;", "g84", true},
        {"g84", "g84", false},                  // cut off before its ";"
        {"G84;", "g84", false},                 // upper-case G
        {"", "g84", false},                     //
        {"g8;", "g84", false},                  // shorter than the prefix
        {"g85;", "g84", false},                 // another code
        {"g85AB;", "g85", true},                //
        {"g86XY;", "g86", true},                //
        {"xg86;", "g86", false},                //
        {"g8412345678901234567", "g84", false}, // 20 characters, no ";"
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsAccepted(c.reply, c.prefix), c.accepted) << c.reply << " / " << c.prefix;
    }
}

TEST(ProtocolJudging, IdentifyAnswerAndReplyCode) {
    EXPECT_FALSE(IsAnswered(""));
    EXPECT_FALSE(IsAnswered("g8202"));
    EXPECT_TRUE(IsAnswered(";"));
    EXPECT_TRUE(IsAnswered("g8202000002100400XY;"));
    EXPECT_EQ(ReplyCodeOf(""), "");
    EXPECT_EQ(ReplyCodeOf("g"), "");
    EXPECT_EQ(ReplyCodeOf("g8"), "8");
    EXPECT_EQ(ReplyCodeOf("g82"), "82");
    EXPECT_EQ(ReplyCodeOf("ggggg82"), "gg");
}

TEST(ProtocolGeometry, FieldsByTheNumberRules) {
    const struct {
        const char* reply;
        const char* version;
        std::int32_t bpe, bs, ec;
    } cases[] = {
        {"g8202AABB10400400XY;", "02", 0x10, 0x40, 0x0400},
        {"g8202AABB0210000200;", "02", 2, 16, 2},
        {"g8203AABBff40FFFF..;", "03", 255, 0x40, 0xFFFF},
        {"g8202AABBzz400400XY;", "02", 0, 0x40, 0x400}, // zz reads 0
        {"g8202AABB7", "02", 7, 0, 0},                  // cut after a digit 7 at char 10
        {"g8202", "02", 0, 0, 0},                       // cut: every number 0
        {"g820", "0", 0, 0, 0},                         //
        {"", "", 0, 0, 0},                              //
        {"g8202AABB0210002;", "02", 2, 16, 0},          // ";" at char 17 spoils EraseCount
        {"g8202AABB02100;", "02", 2, 16, 0},            // ";" inside the field reads 0
        {"g8202AABB0210ab", "02", 2, 16, 0xAB},         // field cut to two chars
        {"g8202AABB 1100001XY;", "02", 0, 0x10, 1},     // a blank is no hex digit
    };
    for (const auto& c : cases) {
        const TFlashGeometry g = ParseGeometry(c.reply);
        EXPECT_EQ(g.LoaderVersion, c.version) << c.reply;
        EXPECT_EQ(g.BlocksPerErase, c.bpe) << c.reply;
        EXPECT_EQ(g.BlockSize, c.bs) << c.reply;
        EXPECT_EQ(g.EraseCount, c.ec) << c.reply;
    }
}

TEST(ProtocolDescription, LineFeedsNulsAndTheDroppedTail) {
    const struct {
        std::string trimmed; // characters 4 .. L-1 of the describe reply
        std::string text;
    } cases[] = {
        {"241004XY", "241004"},
        {"A\nBXY", "A\r\nB"},
        {"\nA\n\nBXY", "A\r\nB"},     // no empty line, none at the start
        {"241004\nXY", "241004\r\n"}, // eight characters: refused by the gate
        {std::string("A\0B\rC", 5) + "XY", "AB\rC"},
        {"A\r\nBXY", "A\r\r\nB"}, // CR kept, then LF breaks the line
        {"XY", ""},
        {"X", ""},
        {"", ""},
        {"AB\nXY", "AB\r\n"},
        {"AB\n\n", "AB"}, // the last two characters are never looked at
    };
    for (const auto& c : cases) {
        std::string text;
        AppendDescription(text, c.trimmed);
        EXPECT_EQ(text, c.text) << c.trimmed;
    }
    std::string text = "Z\r\n";
    AppendDescription(text, "\nQXY");
    EXPECT_EQ(text, "Z\r\nQ");
}

TEST(ProtocolTexts, AddressCalibrationAndCharacterCount) {
    EXPECT_EQ(AddressText(0), "000000");
    EXPECT_EQ(AddressText(0x20), "000020");
    EXPECT_EQ(AddressText(0xABCDEF), "ABCDEF");
    EXPECT_EQ(AddressText(0x1000000), "1000000");
    EXPECT_EQ(CalibrationText(3, 0, 12), "Автокалібровка: 3.0.12");
    EXPECT_EQ(CalibrationText(0, 0, 0), "Автокалібровка: 0.0.0");
    EXPECT_EQ(CharacterCount("241004"), 6u);
    EXPECT_EQ(CharacterCount("абвгде"), 6u);
    EXPECT_EQ(CharacterCount("Невідомий прилад/версія"), 23u);
    EXPECT_EQ(CharacterCount(""), 0u);
}
