// How long each exchange of a write took beyond what the line and the reply read need, from
// the simulator's transcript (its arrival and reply times, to the microsecond).
//
// Between the arrivals of two frames the line needs the reply's bytes, the quiet interval
// that ends the host's reply read (1 ms after one character time) and the next frame's
// bytes.  What is left is the exchange's overhead: wake-ups of both sides, the host's own
// work between the read and the next write, and any time the machine let neither run.  The
// median shows the programs' cost; the exchanges more than 1 ms over show the machine's
// stalls, and their sum how much of the whole they make.
#pragma once

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

struct TExchangeTimes {
    std::size_t Exchanges = 0;
    double MedianOverMs = 0; // per exchange, beyond the line and the quiet interval
    double P90OverMs = 0;
    std::size_t Stalls = 0;  // exchanges more than 1 ms over
    double StallSeconds = 0; // what they took beyond the median
    double OverSeconds = 0;  // all exchanges beyond the line and the quiet interval
};

// One line of the simulator's transcript, such as "   1374.979 RX g05...;": milliseconds since
// the simulator started, RX or TX, and the bytes.
struct TTranscriptLine {
    double Ms = 0;
    std::string Kind;
    std::string Bytes;
};

inline std::vector<TTranscriptLine> ReadTranscriptLines(const std::string& transcript) {
    std::vector<TTranscriptLine> lines;
    std::istringstream in(transcript);
    std::string text;
    while (std::getline(in, text)) {
        std::istringstream fields(text);
        TTranscriptLine line;
        if (fields >> line.Ms >> line.Kind >> line.Bytes &&
            (line.Kind == "RX" || line.Kind == "TX")) {
            lines.push_back(std::move(line));
        }
    }
    return lines;
}

// Only the write's own frames count: erase (g04), write (g05) and commit (g06), and their
// replies.
inline TExchangeTimes MeasureExchanges(const std::string& transcript, int rate) {
    struct Line {
        double Ms;
        bool Rx;
        std::size_t Bytes;
        bool Write;
    };
    std::vector<Line> lines;
    for (const TTranscriptLine& t : ReadTranscriptLines(transcript)) {
        const std::string code = t.Bytes.substr(0, 3);
        const bool write = code == "g04" || code == "g05" || code == "g06" || code == "g84" ||
                           code == "g85" || code == "g86";
        lines.push_back({t.Ms, t.Kind == "RX", t.Bytes.size(), write});
    }

    const double byteMs = 10000.0 / rate;
    const double quietMs = 1.0 + byteMs;
    std::vector<double> over;
    for (std::size_t i = 0; i + 2 < lines.size(); ++i) {
        const Line& frame = lines[i];
        const Line& reply = lines[i + 1];
        const Line& next = lines[i + 2];
        if (!frame.Rx || reply.Rx || !next.Rx || !frame.Write || !reply.Write || !next.Write) {
            continue;
        }
        const double need = static_cast<double>(reply.Bytes + next.Bytes) * byteMs + quietMs;
        over.push_back(next.Ms - frame.Ms - need);
    }

    TExchangeTimes t;
    t.Exchanges = over.size();
    if (over.empty()) {
        return t;
    }
    std::vector<double> sorted = over;
    std::sort(sorted.begin(), sorted.end());
    t.MedianOverMs = sorted[sorted.size() / 2];
    t.P90OverMs = sorted[sorted.size() * 9 / 10];
    for (const double ms : over) {
        t.OverSeconds += ms / 1000.0;
        if (ms > 1.0) {
            ++t.Stalls;
            t.StallSeconds += std::max(0.0, ms - t.MedianOverMs) / 1000.0;
        }
    }
    return t;
}

// The figures under a write's time: the floor of line and quiet interval beside the bound,
// and what the exchanges took beyond it.
inline void PrintExchangeTimes(const TExchangeTimes& t, int rate, double boundSeconds) {
    if (t.Exchanges == 0) {
        return;
    }
    const double floor =
        boundSeconds + static_cast<double>(t.Exchanges) * (1.0 + 10000.0 / rate) / 1000.0;
    std::printf("line + quiet floor:   %.2f s  (%.2fx the bound)\n", floor, floor / boundSeconds);
    std::printf("exchanges:            %zu; over the floor: median %.3f ms, p90 %.3f ms, "
                "%.2f s in all\n",
                t.Exchanges, t.MedianOverMs, t.P90OverMs, t.OverSeconds);
    std::printf("stalls:               %zu exchanges more than 1 ms over, %.2f s beyond the "
                "median\n",
                t.Stalls, t.StallSeconds);
}
