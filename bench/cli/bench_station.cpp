// tarvex6-flash --station against simulated units on pseudo-terminals at 115200 bit/s.
//
//   1. From a unit's bootloader answering the station's probe to the unit's first erase
//      frame, as the simulator's transcript times them (the identification's own fixed
//      pauses are 1.35 s: five wake-ups 50 ms apart, the identify try's 100 ms, the
//      describe's 1000 ms), over several units connected one after another.
//   2. One unit's whole time (its record's seconds) beside the line-rate bound of what
//      crossed its line.
//   3. The CPU time of a station waiting on four positions with nothing connected, and on
//      four ports where nothing answers, read from /proc/<pid>/stat.
//
// Usage: bench_station [KiB] [idle seconds]   (defaults: 64 KiB, 30 s)
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "CliProcess.h"
#include "MiniJson.h"
#include "SimProcess.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
constexpr double Rate = 115200;

std::optional<TJson> NextEvent(TCliProcess& station, const std::string& event,
                               std::chrono::milliseconds limit = 20min) {
    const auto until = Clock::now() + limit;
    while (Clock::now() < until) {
        const auto line = station.NextLine(
            std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()));
        if (!line) {
            return std::nullopt;
        }
        TJson e = TJsonReader::Parse(*line);
        if (e["event"].String == event) {
            return e;
        }
    }
    return std::nullopt;
}

// Milliseconds from the first reply "g82" to the first erase frame in a transcript.
double AnswerToErase(const std::string& transcript) {
    std::istringstream lines(transcript);
    double answered = -1;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        double ms = 0;
        std::string way, payload;
        if (!(fields >> ms >> way >> payload)) {
            continue;
        }
        if (answered < 0 && way == "TX" && payload.rfind("g82", 0) == 0) {
            answered = ms;
        } else if (answered >= 0 && way == "RX" && payload.rfind("g04", 0) == 0) {
            return ms - answered;
        }
    }
    return -1;
}

// User and system time of a process, in seconds.
double CpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // The fields after the command's name, which is in parentheses and may hold blanks.
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) {
            utime = std::stoll(field);
        } else if (i == 15) {
            stime = std::stoll(field);
        }
    }
    return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

void IdleCpu(const char* what, const std::vector<std::string>& positions, int seconds) {
    std::vector<std::string> args = {"--station", "--quiet", "--json"};
    args.insert(args.end(), positions.begin(), positions.end());
    TCliProcess station(args);
    // Settled: every position has reported its first state (and an open port its probing).
    for (std::size_t i = 0; i < positions.size(); ++i) {
        NextEvent(station, "position", 10s);
    }
    const double before = CpuSeconds(station.ProcessId());
    const auto begin = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double cpu = CpuSeconds(station.ProcessId()) - before;
    const double wall = std::chrono::duration<double>(Clock::now() - begin).count();
    station.Interrupt();
    station.Wait(30s);
    std::printf("%-40s %.2f s CPU in %.1f s: %.3f %% of one core\n", what, cpu, wall,
                100.0 * cpu / wall);
}

} // namespace

int main(int argc, char** argv) {
    const int kib = argc > 1 ? std::atoi(argv[1]) : 64;
    const int idle = argc > 2 ? std::atoi(argv[2]) : 30;
    if (kib <= 0 || kib % 16 != 0 || idle <= 0) {
        std::printf("usage: bench_station [KiB, a multiple of 16] [idle seconds]\n");
        return 1;
    }
    char pattern[] = "/tmp/bench-station-XXXXXX";
    const std::string dir = ::mkdtemp(pattern);
    const std::string position = dir + "/bench-1";

    std::printf("== bootloader answer to first erase frame, 1 KiB units one after another ==\n");
    {
        TCliProcess station({"--station", "--quiet", "--json", position});
        std::vector<double> delays;
        for (int unit = 0; unit < 5; ++unit) {
            TSimProcess sim({"--link", position, "--geometry", "1,64,16", "--exit-after-reset"});
            if (!NextEvent(station, "unit") || !sim.WaitForExit(60s)) {
                std::printf("unit %d was not flashed\n", unit);
                return 1;
            }
            delays.push_back(AnswerToErase(sim.Transcript()));
            std::printf("  unit %d: %.1f ms\n", unit + 1, delays.back());
        }
        station.Interrupt();
        station.Wait(30s);
        std::sort(delays.begin(), delays.end());
        std::printf("min %.1f  median %.1f  max %.1f ms; the identification's fixed pauses are "
                    "1350 ms\n",
                    delays.front(), delays[delays.size() / 2], delays.back());
    }

    std::printf("\n== one unit of %d KiB: its whole time beside the line-rate bound ==\n", kib);
    {
        TCliProcess station({"--station", "--quiet", "--json", position});
        TSimProcess sim({"--link", position, "--geometry", "1,64," + std::to_string(kib * 16),
                         "--exit-after-reset"});
        const auto unit = NextEvent(station, "unit");
        sim.WaitForExit(60s);
        station.Interrupt();
        station.Wait(30s);
        if (!unit || (*unit)["outcome"].String != "flashed") {
            std::printf("the unit was not flashed\n");
            return 1;
        }
        const double bound = static_cast<double>(sim.SummaryCount("bytes received") +
                                                 sim.SummaryCount("bytes sent")) *
                             10.0 / Rate;
        const double seconds = (*unit)["seconds"].Number;
        const double paused = (*unit)["paused_seconds"].Number;
        std::printf("record: %.2f s (%.2f s of them in the protocol's pauses), %lld tries, "
                    "%lld failed\n",
                    seconds, paused, static_cast<long long>((*unit)["tries"].Int()),
                    static_cast<long long>((*unit)["failed_tries"].Int()));
        std::printf("line-rate bound: %.2f s; ratio %.2fx, %.2fx without the pauses\n", bound,
                    seconds / bound, (seconds - paused) / bound);
    }

    std::printf("\n== CPU of a station waiting, %d s ==\n", idle);
    IdleCpu("four positions, nothing connected:",
            {dir + "/p1", dir + "/p2", dir + "/p3", dir + "/p4"}, idle);
    {
        std::vector<std::unique_ptr<TSimProcess>> silent;
        std::vector<std::string> ports;
        for (int i = 0; i < 4; ++i) {
            silent.push_back(
                std::make_unique<TSimProcess>(std::vector<std::string>{"--no-answer"}));
            ports.push_back(silent.back()->PtyPath());
        }
        IdleCpu("four ports open, nothing answering:", ports, idle);
    }
    std::remove(position.c_str());
    ::rmdir(dir.c_str());
    return 0;
}
