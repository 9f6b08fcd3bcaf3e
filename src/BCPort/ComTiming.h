// Time arithmetic of the serial transfers, kept apart from the system calls so that it can
// be checked with made-up clocks.  All times are nanoseconds of a monotonic clock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "ComOs.h"

std::uint64_t MonotonicNs();

// True when the time-outs make a read return at once with the bytes already queued
// (ReadInterval all ones, both read totals 0).
bool ReadReturnsAtOnce(const TComTimeoutValues& t);

// Tracks the two limits of one read of `size` bytes: the total budget
// (ReadTotalMultiplier * size + ReadTotalConstant, none when both are 0) counted from the
// start, and ReadInterval (none when 0) counted from the latest arrival once a byte came.
// ReadInterval limits the time the line stays quiet; a byte arrives when its last stop bit
// has, so the next one cannot arrive before one character time `charNs` has passed even on
// a line that never goes quiet.  The interval therefore ends ReadInterval plus one
// character time after the latest arrival: at 9600 bit/s a 1 ms interval would otherwise
// cut every reply that is read while it is still coming in (one byte every 1.04 ms).
class TReadTimer {
public:
    TReadTimer(const TComTimeoutValues& t, std::size_t size, std::uint64_t startNs,
               std::uint64_t charNs = 0);

    void BytesArrived(std::uint64_t nowNs);
    // Time left before a limit ends the read: empty = wait without limit, 0 = ended.
    std::optional<std::uint64_t> Remaining(std::uint64_t nowNs) const;

private:
    std::optional<std::uint64_t> TotalEnd;
    std::uint64_t IntervalNs;
    std::optional<std::uint64_t> IntervalEnd;
};

// Bits one character takes on the line, counted in halves (1.5 stop bits exist): the start
// bit, the data bits, the parity bit unless parity is 0 (none), and the stop bits (code 0
// one, 1 one and a half, 2 two).  8 data bits, no parity, one stop bit give 20 (10 bits).
std::uint32_t CharHalfBits(std::uint8_t dataBits, std::uint8_t parity, std::uint8_t stopBits);

// The time a write of `size` bytes is given: the configured budget
// (WriteTotalMultiplier * size + WriteTotalConstant; no limit when both are 0) plus twice
// the time the bytes need on the line at `rate` bits per second plus 50 ms, so that a slow
// line never cuts a frame short.
std::optional<std::uint64_t> WriteBudgetNs(const TComTimeoutValues& t, std::size_t size,
                                           std::uint32_t rate, std::uint32_t halfBits = 20);

// Time `size` bytes take on the line at `rate` bits per second, `halfBits` half-bits a
// character (10 bits by default), rounded up to the nanosecond.
std::uint64_t LineTimeNs(std::size_t size, std::uint32_t rate, std::uint32_t halfBits = 20);
