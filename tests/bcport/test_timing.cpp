// The read and write time limits computed with made-up clocks.
#include <gtest/gtest.h>

#include "ComTiming.h"

namespace {

constexpr std::uint64_t Ms = 1000000;
constexpr std::uint32_t AllOnes = 4294967295U;

TComTimeoutValues Read(std::uint32_t interval, std::uint32_t multiplier, std::uint32_t constant) {
    TComTimeoutValues t;
    t.ReadInterval = interval;
    t.ReadTotalMultiplier = multiplier;
    t.ReadTotalConstant = constant;
    return t;
}

TEST(ComTiming, ReturnAtOnceOnlyWithAllOnesIntervalAndNoTotals) {
    EXPECT_TRUE(ReadReturnsAtOnce(Read(AllOnes, 0, 0)));
    EXPECT_FALSE(ReadReturnsAtOnce(Read(AllOnes, 0, 1)));
    EXPECT_FALSE(ReadReturnsAtOnce(Read(AllOnes, 1, 0)));
    EXPECT_FALSE(ReadReturnsAtOnce(Read(0, 0, 0)));
    EXPECT_FALSE(ReadReturnsAtOnce(Read(1, 1, 1)));
}

// Each case: time-outs, size, arrivals (ms after start), the time asked about, the answer
// (-1 = no limit).
struct ReadCase {
    const char* Name;
    TComTimeoutValues T;
    std::size_t Size;
    std::vector<std::uint64_t> Arrivals;
    std::uint64_t AskAt;
    std::int64_t RemainingMs;
};

TEST(ComTiming, ReadTimerLimits) {
    const ReadCase cases[] = {
        {"stored settings, silent line: N + 1 ms", Read(1, 1, 1), 40, {}, 0, 41},
        {"total runs out", Read(1, 1, 1), 40, {}, 50, 0},
        {"interval counted from the byte", Read(1, 1, 1), 40, {5}, 5, 1},
        {"later byte restarts the interval", Read(1, 1, 1), 40, {5, 6}, 6, 1},
        {"quiet longer than the interval", Read(1, 1, 1), 40, {5}, 7, 0},
        {"total nearer than the interval", Read(10, 1, 1), 40, {38}, 38, 3},
        {"no limits at all", Read(0, 0, 0), 40, {}, 1000, -1},
        {"interval only, before the first byte", Read(20, 0, 0), 40, {}, 1000, -1},
        {"interval only, after a byte", Read(20, 0, 0), 40, {100}, 110, 10},
        {"no interval, total only", Read(0, 2, 10), 10, {3}, 3, 27},
        {"all ones multiplier does not wrap",
         Read(0, AllOnes, 0),
         1000,
         {},
         0,
         static_cast<std::int64_t>(4294967295ULL * 1000)},
    };
    for (const ReadCase& c : cases) {
        const std::uint64_t start = 1000 * Ms;
        TReadTimer timer(c.T, c.Size, start);
        for (std::uint64_t at : c.Arrivals) {
            timer.BytesArrived(start + at * Ms);
        }
        const std::optional<std::uint64_t> left = timer.Remaining(start + c.AskAt * Ms);
        if (c.RemainingMs < 0) {
            EXPECT_FALSE(left.has_value()) << c.Name;
        } else {
            ASSERT_TRUE(left.has_value()) << c.Name;
            EXPECT_EQ(*left, static_cast<std::uint64_t>(c.RemainingMs) * Ms) << c.Name;
        }
    }
}

TEST(ComTiming, ReadIntervalCountsQuietLineAfterOneCharacterTime) {
    const std::uint64_t start = 1000 * Ms;
    const std::uint64_t charAt9600 = LineTimeNs(1, 9600); // 1.0417 ms
    TReadTimer timer(Read(1, 1, 1), 40, start, charAt9600);
    EXPECT_EQ(timer.Remaining(start), std::optional<std::uint64_t>(41 * Ms)); // total unchanged
    timer.BytesArrived(start + 5 * Ms);
    // A byte every 1.04 ms is a line that never goes quiet: the read waits for the next.
    EXPECT_EQ(timer.Remaining(start + 5 * Ms + charAt9600), std::optional<std::uint64_t>(Ms));
    EXPECT_EQ(timer.Remaining(start + 6 * Ms + charAt9600), std::optional<std::uint64_t>(0));
    // No interval limit stays none.
    TReadTimer none(Read(0, 0, 0), 40, start, charAt9600);
    none.BytesArrived(start);
    EXPECT_FALSE(none.Remaining(start + 100 * Ms).has_value());
}

TEST(ComTiming, CharacterTimeCountsStartDataParityAndStopBits) {
    EXPECT_EQ(CharHalfBits(8, 0, 0), 20U);
    EXPECT_EQ(CharHalfBits(7, 2, 2), 22U);
    EXPECT_EQ(CharHalfBits(5, 1, 1), 17U);
    EXPECT_EQ(LineTimeNs(1, 9600, 22), 1145834U);
}

TEST(ComTiming, WriteBudget) {
    TComTimeoutValues t;
    EXPECT_FALSE(WriteBudgetNs(t, 136, 9600).has_value()); // both 0: no limit
    t.WriteTotalMultiplier = 1;
    t.WriteTotalConstant = 1;
    EXPECT_EQ(WriteBudgetNs(t, 6, 115200), (7 + 50) * Ms + 2 * 520834);
    t.WriteTotalMultiplier = AllOnes;
    t.WriteTotalConstant = AllOnes;
    EXPECT_EQ(WriteBudgetNs(t, 2, 256000),
              (2 * 4294967295ULL + 4294967295ULL + 50) * Ms + 2 * 78125);
}

TEST(ComTiming, LineTimeIsTenBitsPerByteRoundedUp) {
    EXPECT_EQ(LineTimeNs(136, 9600), 141666667U);
    EXPECT_EQ(LineTimeNs(1, 110), 90909091U);
    EXPECT_EQ(LineTimeNs(0, 9600), 0U);
}

} // namespace
