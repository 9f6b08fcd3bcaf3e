// The --log-out record: one line per frame received and per reply sent, then the counts.
#pragma once

#include <chrono>
#include <fstream>
#include <string>
#include <string_view>

struct BootloaderCounts;

class Transcript {
public:
    using Clock = std::chrono::steady_clock;

    explicit Transcript(Clock::time_point start) : start_(start) {}

    // An empty path records nothing.  False when the file can't be created.
    bool Open(const std::string& path);

    // "<ms since start> <direction> <bytes, escaped> [note]"
    void Line(Clock::time_point when, std::string_view direction, std::string_view bytes,
              std::string_view note = {});
    void Note(Clock::time_point when, std::string_view text);
    void Summary(const BootloaderCounts& counts, long bytesReceived, long bytesSent);

    // Non-printable bytes as \r, \n or \xHH, so a line of the transcript stays one line.
    static std::string Escape(std::string_view bytes);

private:
    void Stamp(Clock::time_point when);

    Clock::time_point start_;
    std::ofstream file_;
};
