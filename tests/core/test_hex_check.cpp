// The line check that every firmware text passes before it becomes the flash image.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Convert.h"
#include "FakeHost.h"
#include "FlashImage.h"
#include "HexCheck.h"
#include "HexText.h"

namespace {} // namespace

TEST(CheckHexLines, RecordTable) {
    struct Case {
        std::string line;
        std::string message; // empty: passes
    } cases[] = {
        {":020000040000FA", ""},
        {":00", ""},
        {":10010000214601360121470136007EFE09D2190140", ""},
        {":10010000214601360121470136007efe09d2190140", ""}, // the check reads either case
        {"not a record", ""},
        {"", ""},
        {" :0", ""}, // a blank first: not a record line
        {":FF", std::string(ChecksumPrefix) + "1! (:FF)"},
        {":0", std::string(ParityPrefix) + "1! (:0)"},
        {":020000040000FB", std::string(ChecksumPrefix) + "1! (:020000040000FB)"},
        {":0200000400000FA", std::string(ParityPrefix) + "1! (:0200000400000FA)"},
        // A pair that is not hex counts 0 in the sum.
        {":0Z0000040000FC", ""},
        // The failing line is shown in UTF-8: 0xCF is the Cyrillic capital Pe.
        {":\xCF", std::string(ParityPrefix) + "1! (:П)"},
    };
    for (const auto& c : cases) {
        TFakeHost host;
        host.Terminal.SetText(c.line + "\r\n");
        const bool ok = CheckHexLines(host);
        EXPECT_EQ(ok, c.message.empty()) << c.line;
        if (c.message.empty()) {
            EXPECT_TRUE(host.Messages.empty()) << c.line;
            EXPECT_TRUE(host.Beeps.empty()) << c.line;
        } else {
            EXPECT_EQ(host.Messages, std::vector<std::string>{c.message});
            EXPECT_EQ(host.Beeps, std::vector<unsigned>{mbError});
            EXPECT_EQ(host.Gauge.Progress(), 0);
        }
    }
}

TEST(CheckHexLines, CommentThenBadLineReportsLineTwo) {
    TFakeHost host;
    host.Terminal.SetText("; made by hand\n:FF\n");
    EXPECT_FALSE(CheckHexLines(host));
    EXPECT_EQ(host.Messages, std::vector<std::string>{std::string(ChecksumPrefix) + "2! (:FF)"});
}

TEST(CheckHexLines, FirstFailureStopsAndGaugeSteps) {
    TFakeHost host;
    host.Terminal.SetText(Lines({":020000040000FA", ":00", "x", ":0", ":FF", ":00000001FF"}));
    EXPECT_FALSE(CheckHexLines(host));
    EXPECT_EQ(host.Messages, std::vector<std::string>{std::string(ParityPrefix) + "4! (:0)"});
    EXPECT_EQ(host.Beeps.size(), 1u);
    EXPECT_EQ(host.Gauge.MaxValue(), 5);
    EXPECT_EQ(host.Gauge.Progress(), 0);
    EXPECT_EQ(host.PendingInputCalls, 4); // one per line up to the failing one

    TFakeHost good;
    good.Terminal.SetText(Lines({":020000040000FA", "x", ":00000001FF"}));
    good.Gauge.SetMaxValue(100);
    good.Gauge.SetProgress(50);
    good.OnPendingInput = [&] { good.Events.push_back(std::to_string(good.Gauge.Progress())); };
    EXPECT_TRUE(CheckHexLines(good));
    EXPECT_EQ(good.Gauge.MaxValue(), 2);
    EXPECT_EQ(good.Events, (std::vector<std::string>{"0", "1", "2"}));
}

TEST(CheckHexLines, ConversionAndRangeErrorsPropagate) {
    struct Case {
        std::string text;
        std::string error;
    } cases[] = {
        {":00ZZ\r\n", "'$ZZ' is not a valid integer value"},
        {":\r\n", "'$' is not a valid integer value"},
        {":00\r\n:0000 1\r\n", "'$ 1' is not a valid integer value"},
    };
    for (const auto& c : cases) {
        TFakeHost host;
        host.Terminal.SetText(c.text);
        try {
            CheckHexLines(host);
            ADD_FAILURE() << "no conversion error for " << c.text;
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.what(), c.error);
        }
        EXPECT_TRUE(host.Beeps.empty());
        EXPECT_TRUE(host.Messages.empty());
    }
    // The gauge keeps its position: the second line fails after the first stepped it.
    TFakeHost host;
    host.Terminal.SetText(":00\r\n:\r\n");
    EXPECT_THROW(CheckHexLines(host), EConvertError);
    EXPECT_EQ(host.Gauge.Progress(), 1);

    TFakeHost empty;
    empty.Gauge.SetProgress(7);
    try {
        CheckHexLines(empty);
        ADD_FAILURE() << "no range error";
    } catch (const EGaugeRange& e) {
        EXPECT_STREQ(e.what(), "Value must be between 1 and 2147483647");
    }
    EXPECT_EQ(empty.Gauge.MaxValue(), 100);
    EXPECT_EQ(empty.Gauge.Progress(), 7);
    EXPECT_EQ(empty.PendingInputCalls, 0);
}

TEST(CheckHexLines, HugeLineIsShownCut) {
    TFakeHost host;
    host.Terminal.SetText(":" + std::string(1'000'001, '0'));
    EXPECT_FALSE(CheckHexLines(host));
    ASSERT_EQ(host.Messages.size(), 1u);
    const std::string& m = host.Messages[0];
    EXPECT_EQ(m.rfind(std::string(ParityPrefix) + "1! (:000", 0), 0u);
    EXPECT_LT(m.size(), 1200u);
    EXPECT_EQ(m.substr(m.size() - 4), "…)");
    // A real record is never cut.
    const std::string longest = ":FF000000" + std::string(510, 'A') + "XX";
    EXPECT_EQ(HexLineMessage("p", 3, longest), "p3! (" + longest + ")");
}
