// The main gauge widget over its model: percentage text and repaints.
#include <gtest/gtest.h>

#include "Feedback.h"
#include "Gauge.h"
#include "Recorder.h"

namespace {

struct TGaugeCase {
    std::int64_t Max;
    std::int64_t Progress;
    const char* Text;
};

void PrintTo(const TGaugeCase& c, std::ostream* os) {
    *os << "Max " << c.Max << " Progress " << c.Progress;
}

class GaugeText : public ::testing::TestWithParam<TGaugeCase> {};

TEST_P(GaugeText, ShowsTheRoundedPercentage) {
    TGauge gauge;
    gauge.resize(315, 17);
    gauge.SetMaxValue(GetParam().Max);
    gauge.SetProgress(GetParam().Progress);
    EXPECT_EQ(gauge.Text(), GetParam().Text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GaugeText,
    ::testing::Values(TGaugeCase{8, 3, "38%"}, TGaugeCase{8, 1, "12%"}, TGaugeCase{3, 2, "67%"},
                      TGaugeCase{0, 0, "0%"}, TGaugeCase{100, 0, "0%"},
                      TGaugeCase{100, 250, "100%"}, TGaugeCase{100, -5, "0%"},
                      // exact halves to the even neighbour
                      TGaugeCase{60000, 8700, "14%"}, TGaugeCase{60000, 20700, "34%"},
                      TGaugeCase{60000, 3300, "6%"}, TGaugeCase{200, 1, "0%"},
                      TGaugeCase{40, 1, "2%"}, TGaugeCase{2147483647, 2147483647, "100%"}));

TEST(Gauge, NegativeMaximumIsRefusedThroughErrorReportingAndChangesNothing) {
    TFeedbackRecorder recorder;
    TGauge gauge;
    gauge.SetMaxValue(8);
    gauge.SetProgress(3);
    ReportErrors([&] { gauge.SetMaxValue(-1); });
    EXPECT_EQ(recorder.Texts(TFeedbackRecorder::TKind::Error),
              std::vector<std::string>{"Value must be between 1 and 2147483647."});
    EXPECT_EQ(gauge.MaxValue(), 8);
    EXPECT_EQ(gauge.Progress(), 3);
    EXPECT_EQ(gauge.Text(), "38%");
}

TEST(Gauge, RepaintsOnlyWhenAPixelOrTheRangeChanges) {
    TGauge gauge;
    gauge.resize(315, 17);
    gauge.show(); // a hidden gauge is not painted and asks for nothing
    gauge.SetMaxValue(60000);
    const long afterRange = gauge.RepaintRequests();
    EXPECT_EQ(afterRange, 1);
    for (int i = 0; i < 1'000'000; ++i) {
        gauge.Advance(1);
        if (i + 1 == 59999) {
            EXPECT_EQ(gauge.Text(), "100%"); // 99.998 rounds up
        }
    }
    EXPECT_EQ(gauge.Progress(), 60000);
    EXPECT_EQ(gauge.Text(), "100%");
    // One repaint per pixel of the 313-pixel bar at most, none for the 940,000 steps past
    // the maximum.
    EXPECT_EQ(gauge.RepaintRequests() - afterRange, 313);
}

} // namespace
