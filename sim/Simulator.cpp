#include "Simulator.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>

using namespace std::chrono_literals;

namespace {

constexpr auto ExitAfterResetDelay = 300ms;
// A hang-up discards what the host has not read yet, so the line is pulled once the host has
// taken the last reply, or after this long.
constexpr auto UnplugGrace = 1s;
constexpr auto UnplugCheck = 5ms;

timespec ToTimespec(std::chrono::nanoseconds span) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(span);
    return {static_cast<time_t>(seconds.count()), static_cast<long>((span - seconds).count())};
}

} // namespace

Simulator::Simulator(const SimOptions& options, PtyLine& line, Transcript& transcript)
    : options_(options), line_(line), transcript_(transcript), device_(options),
      noise_(options.Seed) {}

Simulator::Clock::duration Simulator::ByteTime() const {
    const long speed = line_.Speed();
    if (speed <= 0) {
        return Clock::duration::zero(); // B0 or unknown: no pacing
    }
    // start bit, 8 data bits, stop bit
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::nanoseconds(10'000'000'000LL / speed));
}

int Simulator::ProcessingMs(Command command) const {
    switch (command) {
    case Command::Erase:
        return options_.EraseMs;
    case Command::Write:
        return options_.WriteMs;
    case Command::Commit:
        return options_.CommitMs;
    default:
        return 0;
    }
}

void Simulator::Receive(Clock::time_point now) {
    char buffer[4096];
    const Clock::duration byteTime = ByteTime();
    for (;;) {
        const long n = line_.Read(buffer, sizeof buffer);
        if (n <= 0) {
            return;
        }
        bytesReceived_ += n;
        // The bytes reach us all at once through the pty; on a cable they would follow each
        // other at the line's rate from now on.
        rxFree_ = std::max(rxFree_, now);
        for (long i = 0; i < n; ++i) {
            rxFree_ += byteTime;
            if (auto frame = reader_.Feed(buffer[i])) {
                arrivals_.push_back({rxFree_, std::move(*frame)});
            }
        }
    }
}

// A frame is answered as soon as its bytes are read, with every time reckoned from its
// arrival on the wire: the reply then needs one timed wake-up, when its bytes are due at the
// host, rather than a second one at the arrival, whose lateness would delay the reply too.
void Simulator::HandleArrivals() {
    while (!arrivals_.empty()) {
        const Arrival arrival = std::move(arrivals_.front());
        arrivals_.pop_front();
        if (unplugArmed_) {
            transcript_.Line(arrival.due, "RX", arrival.frame, "after the last frame");
            continue;
        }
        Outcome outcome = device_.Handle(arrival.frame);
        transcript_.Line(arrival.due, "RX", arrival.frame, outcome.note);

        const auto begin = std::max(arrival.due, deviceFree_);
        if (outcome.performed) {
            deviceFree_ = begin + std::chrono::milliseconds(ProcessingMs(outcome.command));
        }
        if (!outcome.reply.empty()) {
            const auto ready = std::max(arrival.due, deviceFree_) +
                               std::chrono::milliseconds(options_.ReplyDelayMs + options_.LateMs);
            // Now and then a stray burst, as from a loose connector; never a "g" or ";",
            // which would look like the start or end of a reply.
            if (options_.Noise && noise_() % 6 == 0) {
                static constexpr char Stray[] = {'\x00', '\xFF', '~', 'x', '\r', '\n', '\x7F', '?'};
                std::string burst;
                for (auto n = 1 + noise_() % 3; n > 0; --n) {
                    burst += Stray[noise_() % sizeof Stray];
                }
                Queue({ready, burst, "noise"});
            }
            Queue({ready, std::move(outcome.reply), outcome.note});
        }
        // Counted as received, answered or not: the host's two restarts end its session.
        if (outcome.command == Command::Reset && ++restartFrames_ == 2 && options_.ExitAfterReset) {
            exitAt_ = arrival.due + ExitAfterResetDelay;
        }
        if (options_.UnplugAfter > 0 && device_.Counts().Frames >= options_.UnplugAfter) {
            unplugArmed_ = true;
        }
    }
}

Simulator::Clock::time_point Simulator::DeliveredAt(Clock::time_point start,
                                                    Clock::duration byteTime, std::size_t size,
                                                    std::size_t k) const {
    // Byte i's stop bit arrives at start + (i + 1) byte times.
    const auto arrival = [&](std::size_t i) { return start + byteTime * static_cast<long>(i + 1); };
    if (byteTime <= Clock::duration::zero() || size == 0) {
        return start;
    }
    if (options_.WholeReplies) {
        return arrival(size - 1);
    }
    switch (options_.Adapter) {
    case AdapterKind::Plain:
        return arrival(k);
    case AdapterKind::Ftdi: {
        // A packet collects from its first byte on and goes when it holds 62 bytes, or when
        // the latency timer has run out since that first byte arrived.
        const auto latency =
            std::chrono::milliseconds(options_.LowLatency ? 1 : options_.FtdiLatencyMs);
        constexpr std::size_t Packet = 62;
        for (std::size_t first = 0;;) {
            const auto deadline = arrival(first) + latency;
            std::size_t end = first + 1;
            while (end < size && end - first < Packet && arrival(end) <= deadline) {
                ++end;
            }
            const auto sent = end - first == Packet ? arrival(end - 1) : deadline;
            if (k < end) {
                return sent;
            }
            first = end;
        }
    }
    case AdapterKind::CdcAcm: {
        // The adapter sends on the USB frames, every millisecond: a frame takes what has
        // arrived since the one before, up to 64 bytes.
        constexpr auto Frame = std::chrono::milliseconds(1);
        constexpr std::size_t Packet = 64;
        const auto frameAfter = [&](Clock::time_point t) {
            const auto frames = (t - epoch_ + Frame - Clock::duration(1)) / Frame;
            return epoch_ + Frame * frames;
        };
        for (std::size_t first = 0;;) {
            const auto frame = frameAfter(arrival(first));
            std::size_t end = first + 1;
            while (end < size && end - first < Packet && arrival(end) <= frame) {
                ++end;
            }
            if (k < end) {
                return frame;
            }
            first = end;
        }
    }
    }
    return arrival(k);
}

void Simulator::Queue(Segment segment) {
    // In order of readiness; equal times keep their order (a noise burst before its reply).
    const auto at = std::upper_bound(
        outgoing_.begin(), outgoing_.end(), segment.ready,
        [](Clock::time_point ready, const Segment& other) { return ready < other.ready; });
    outgoing_.insert(at, std::move(segment));
}

bool Simulator::Transmit(Clock::time_point now) {
    for (;;) {
        if (!sending_) {
            if (outgoing_.empty() || outgoing_.front().ready > now) {
                return true;
            }
            sending_ = std::move(outgoing_.front());
            outgoing_.pop_front();
            sendStart_ = std::max(sending_->ready, txFree_);
            sendByteTime_ = ByteTime();
            sent_ = 0;
            transcript_.Line(sendStart_, "TX", sending_->bytes, sending_->note);
        }
        // Byte k is written when it reaches the host: when its stop bit would have arrived,
        // start + (k + 1) byte times, or later as the adapter model hands it on.
        const std::size_t size = sending_->bytes.size();
        std::size_t due = sent_;
        while (due < size && DeliveredAt(sendStart_, sendByteTime_, size, due) <= now) {
            ++due;
        }
        if (due > sent_) {
            const long n =
                line_.Write(std::string_view(sending_->bytes).substr(sent_, due - sent_));
            bytesSent_ += n;
            sent_ += static_cast<std::size_t>(n);
            if (sent_ < due) {
                return false; // the host's input queue is full
            }
        }
        if (sent_ < sending_->bytes.size()) {
            return true;
        }
        txFree_ = sendStart_ + sendByteTime_ * static_cast<long>(sending_->bytes.size());
        sending_.reset();
    }
}

std::optional<Simulator::Clock::time_point> Simulator::NextWake(Clock::time_point now) const {
    std::optional<Clock::time_point> wake = exitAt_;
    auto consider = [&wake](Clock::time_point t) {
        if (!wake || t < *wake) {
            wake = t;
        }
    };
    if (sending_ && !writeBlocked_) {
        consider(DeliveredAt(sendStart_, sendByteTime_, sending_->bytes.size(), sent_));
    } else if (!sending_ && !outgoing_.empty()) {
        // Nothing is written when a reply may start, only when its first byte (or all of
        // it) reaches the host: one wake-up, not two.
        const Segment& next = outgoing_.front();
        consider(std::max(
            DeliveredAt(std::max(next.ready, txFree_), ByteTime(), next.bytes.size(), 0), now));
    }
    return wake;
}

void Simulator::Run(int stopFd) {
    for (;;) {
        auto now = Clock::now();
        Receive(now);
        HandleArrivals();
        writeBlocked_ = !Transmit(now);

        if (exitAt_ && now >= *exitAt_) {
            transcript_.Note(now, "exit after the second restart");
            return;
        }
        if (unplugArmed_ && !sending_ && outgoing_.empty()) {
            if (!unplugBy_) {
                unplugBy_ = now + UnplugGrace;
            } else if (line_.Unread() == 0 || now >= *unplugBy_) {
                transcript_.Note(now, "line unplugged");
                line_.Close();
                return;
            }
        }

        // ppoll: a byte at 115200 bit/s lasts 87 us, so whole-millisecond waits would stretch
        // every exchange.
        timespec wait{};
        timespec* timeout = nullptr;
        if (unplugBy_) {
            wait = ToTimespec(UnplugCheck); // the host's reads give no event
            timeout = &wait;
        } else if (const auto wake = NextWake(now)) {
            // From the clock as it is now: the work since the top of the loop must not make
            // the wake-up late.
            wait = ToTimespec(std::clamp<Clock::duration>(*wake - Clock::now(), {}, 60s));
            timeout = &wait;
        }
        pollfd fds[2] = {{line_.MasterFd(), POLLIN, 0}, {stopFd, POLLIN, 0}};
        if (writeBlocked_) {
            fds[0].events |= POLLOUT;
        }
        if (ppoll(fds, 2, timeout, nullptr) < 0 && errno != EINTR) {
            return;
        }
        if (fds[1].revents != 0) {
            transcript_.Note(Clock::now(), "stopped by a signal");
            return;
        }
    }
}
