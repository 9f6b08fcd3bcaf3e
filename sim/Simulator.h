// The line and the device's clock: paces both directions at the rate the host set on the pty
// (10 bits per byte), lets the device take its processing time, and injects the line faults.
#pragma once

#include "Bootloader.h"
#include "FrameReader.h"
#include "Options.h"
#include "PtyLine.h"
#include "Transcript.h"

#include <chrono>
#include <deque>
#include <optional>
#include <random>
#include <string>

class Simulator {
public:
    using Clock = std::chrono::steady_clock;

    Simulator(const SimOptions& options, PtyLine& line, Transcript& transcript);

    // Serves the line until `stopFd` becomes readable, the line is unplugged, or the exit
    // after the second restart is due.
    void Run(int stopFd);

    const Bootloader& Device() const { return device_; }
    long BytesReceived() const { return bytesReceived_; }
    long BytesSent() const { return bytesSent_; }

private:
    struct Arrival {
        Clock::time_point due; // when its last byte is through the wire
        std::string frame;
    };
    struct Segment {
        Clock::time_point ready; // the earliest the first bit may leave
        std::string bytes;
        std::string note;
    };

    Clock::duration ByteTime() const;
    // When byte k of a segment of `size` bytes that starts on the wire at `start` reaches the
    // host, through the adapter model.
    Clock::time_point DeliveredAt(Clock::time_point start, Clock::duration byteTime,
                                  std::size_t size, std::size_t k) const;
    void Receive(Clock::time_point now);
    void HandleArrivals();
    void Queue(Segment segment);
    // Writes what is due; false when the pty would not take it.
    bool Transmit(Clock::time_point now);
    std::optional<Clock::time_point> NextWake(Clock::time_point now) const;
    int ProcessingMs(Command command) const;

    SimOptions options_;
    PtyLine& line_;
    Transcript& transcript_;
    Bootloader device_;
    FrameReader reader_;
    std::mt19937 noise_;

    std::deque<Arrival> arrivals_;
    std::deque<Segment> outgoing_;
    Clock::time_point rxFree_{};     // when the host-to-device wire is idle again
    Clock::time_point txFree_{};     // the same for device-to-host
    Clock::time_point deviceFree_{}; // when the device has finished its last command

    // The reply now on the wire.
    std::optional<Segment> sending_;
    Clock::time_point sendStart_{};
    Clock::duration sendByteTime_{};
    std::size_t sent_ = 0;
    bool writeBlocked_ = false;

    bool unplugArmed_ = false;
    std::optional<Clock::time_point> unplugBy_; // the latest moment to pull the line
    int restartFrames_ = 0;
    std::optional<Clock::time_point> exitAt_;
    long bytesReceived_ = 0;
    long bytesSent_ = 0;
    Clock::time_point epoch_ = Clock::now(); // the USB frames of the cdc-acm model count from here
};
