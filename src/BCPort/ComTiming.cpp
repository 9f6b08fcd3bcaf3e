#include "ComTiming.h"

#include <chrono>
#include <thread>

namespace {
constexpr std::uint64_t NsPerMs = 1000000;
constexpr std::uint32_t AllOnes = 0xFFFFFFFFU;
constexpr std::uint64_t WriteMarginNs = 50 * NsPerMs;
} // namespace

std::uint64_t MonotonicNs() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

bool ReadReturnsAtOnce(const TComTimeoutValues& t) {
    return t.ReadInterval == AllOnes && t.ReadTotalMultiplier == 0 && t.ReadTotalConstant == 0;
}

TReadTimer::TReadTimer(const TComTimeoutValues& t, std::size_t size, std::uint64_t startNs,
                       std::uint64_t charNs)
    : IntervalNs(t.ReadInterval == 0 ? 0 : std::uint64_t{t.ReadInterval} * NsPerMs + charNs) {
    if (t.ReadTotalMultiplier != 0 || t.ReadTotalConstant != 0) {
        // 64 bits hold all-ones times any realistic size without overflow.
        const std::uint64_t ms =
            std::uint64_t{t.ReadTotalMultiplier} * size + std::uint64_t{t.ReadTotalConstant};
        TotalEnd = startNs + ms * NsPerMs;
    }
}

void TReadTimer::BytesArrived(std::uint64_t nowNs) {
    if (IntervalNs != 0) {
        IntervalEnd = nowNs + IntervalNs;
    }
}

std::optional<std::uint64_t> TReadTimer::Remaining(std::uint64_t nowNs) const {
    std::optional<std::uint64_t> end = TotalEnd;
    if (IntervalEnd && (!end || *IntervalEnd < *end)) {
        end = IntervalEnd;
    }
    if (!end) {
        return std::nullopt;
    }
    return *end > nowNs ? *end - nowNs : 0;
}

std::uint32_t CharHalfBits(std::uint8_t dataBits, std::uint8_t parity, std::uint8_t stopBits) {
    const std::uint32_t stopHalves = stopBits == 1 ? 3 : stopBits == 2 ? 4 : 2;
    return 2 * (1 + std::uint32_t{dataBits} + (parity != 0 ? 1 : 0)) + stopHalves;
}

std::uint64_t LineTimeNs(std::size_t size, std::uint32_t rate, std::uint32_t halfBits) {
    if (rate == 0) {
        return 0;
    }
    const std::uint64_t perSecond = std::uint64_t{rate} * 2;
    return (std::uint64_t{size} * halfBits * 1000000000ULL + perSecond - 1) / perSecond;
}

std::optional<std::uint64_t> WriteBudgetNs(const TComTimeoutValues& t, std::size_t size,
                                           std::uint32_t rate, std::uint32_t halfBits) {
    if (t.WriteTotalMultiplier == 0 && t.WriteTotalConstant == 0) {
        return std::nullopt;
    }
    const std::uint64_t configuredMs =
        std::uint64_t{t.WriteTotalMultiplier} * size + std::uint64_t{t.WriteTotalConstant};
    return configuredMs * NsPerMs + 2 * LineTimeNs(size, rate, halfBits) + WriteMarginNs;
}

std::uint64_t TComOs::NowNs() {
    return MonotonicNs();
}

void TComOs::SleepNs(std::uint64_t ns) {
    std::this_thread::sleep_for(std::chrono::nanoseconds(ns));
}
