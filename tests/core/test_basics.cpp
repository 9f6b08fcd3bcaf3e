// Gauge rules, text areas, conversions and the hex byte sum.
#include <gtest/gtest.h>

#include "Convert.h"
#include "GaugeModel.h"
#include "HexSum.h"
#include "TextArea.h"

TEST(GaugeModel, PercentRoundsHalfToEven) {
    struct Case {
        std::int64_t max, progress;
        int percent;
    } cases[] = {{8, 3, 38}, {8, 1, 12}, {3, 2, 67}, {0, 0, 0}, {100, 100, 100}, {8, 5, 62}};
    for (const auto& c : cases) {
        TGaugeModel g;
        g.SetMaxValue(c.max);
        g.SetProgress(c.progress);
        EXPECT_EQ(g.Percent(), c.percent) << c.max << " " << c.progress;
    }
}

TEST(GaugeModel, LimitsAndRefusesNegativeRange) {
    TGaugeModel g;
    g.SetMaxValue(60000);
    for (int i = 0; i < 1000000; ++i) {
        g.Advance(1);
        if (i + 1 == 60000) {
            EXPECT_EQ(g.Percent(), 100);
        }
    }
    EXPECT_EQ(g.Progress(), 60000);
    g.SetMaxValue(10);
    EXPECT_EQ(g.Progress(), 10);
    try {
        g.SetMaxValue(-1);
        FAIL() << "no range error";
    } catch (const EGaugeRange& e) {
        EXPECT_STREQ(e.what(), "Value must be between 1 and 2147483647");
    }
    EXPECT_EQ(g.MaxValue(), 10);
    EXPECT_EQ(g.Progress(), 10);
    g.SetProgress(-5);
    EXPECT_EQ(g.Progress(), 0);
}

TEST(GaugeModel, NotifiesOnlyWhenAPixelChanges) {
    TGaugeModel g;
    g.SetPixelWidth(315);
    g.SetMaxValue(60000);
    int repaints = 0;
    g.SetOnVisibleChange([&] { ++repaints; });
    for (int i = 0; i < 60000; ++i) {
        g.Advance(1);
    }
    EXPECT_EQ(repaints, 315);
    g.SetMaxValue(100);
    EXPECT_EQ(repaints, 316);
}

TEST(TextArea, LinesEndAtCrLfOrCrLf) {
    TTextArea t;
    t.SetText("A\r\nB\rC\nD\r\n");
    ASSERT_EQ(t.LineCount(), 4u);
    EXPECT_EQ(t.Line(0), "A");
    EXPECT_EQ(t.Line(3), "D");
    t.SetText("");
    EXPECT_EQ(t.LineCount(), 0u);
    t.SetText("\r\n\r\nX");
    ASSERT_EQ(t.LineCount(), 3u);
    EXPECT_EQ(t.Line(0), "");
    EXPECT_EQ(t.Line(2), "X");
}

TEST(TextArea, AppendKeepsTheIndexRight) {
    TTextArea t;
    t.Append("A\r");
    t.Append("\nB");
    t.AppendLine("log");
    t.AppendLine("next");
    EXPECT_EQ(t.Text(), "A\r\nB\r\nlog\r\nnext\r\n");
    ASSERT_EQ(t.LineCount(), 4u);
    EXPECT_EQ(t.Line(1), "B");
    EXPECT_EQ(t.Line(3), "next");
}

TEST(Convert, StrToIntFollowsTheUsualRules) {
    EXPECT_EQ(StrToInt("241004"), 241004);
    EXPECT_EQ(StrToInt("  -12"), -12);
    EXPECT_EQ(StrToInt("$FF"), 255);
    EXPECT_EQ(StrToInt("000001"), 1);
    EXPECT_EQ(HexFieldToInt("ffff"), 65535);
    for (const char* bad : {"", "abcdef", "12 ", "$", "2147483648", "1.5"}) {
        try {
            StrToInt(bad);
            ADD_FAILURE() << bad;
        } catch (const EConvertError& e) {
            EXPECT_EQ(std::string(e.what()),
                      std::string("'") + bad + "' is not a valid integer value");
        }
    }
    try {
        HexFieldToInt("G\xC0");
        ADD_FAILURE();
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'$GА' is not a valid integer value");
    }
}

TEST(HexSum, SumsPairsModulo256) {
    EXPECT_EQ(SumHexBytes("020000040000"), "06");
    EXPECT_EQ(SumHexBytes("FFFF"), "FE");
    EXPECT_EQ(SumHexBytes("0Z12"), "12");
    EXPECT_EQ(SumHexBytes(""), "00");
    EXPECT_EQ(SumHexBytes("ff"), "FF");
    std::string many;
    for (int i = 0; i < 255; ++i) {
        many += "FF";
    }
    EXPECT_EQ(SumHexBytes(many), "01");
    EXPECT_EQ(SumHexBytes("04FFFFFF"), "01");
}
