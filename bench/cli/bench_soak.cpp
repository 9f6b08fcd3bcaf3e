// A station through many plug and pull cycles: small simulated units connected one after
// another on two positions, some pulled in the middle of their write, some swapped for the
// next one at once.  Checks that every unit got exactly one record and none was written
// twice, and prints the station's resident memory, open files and threads at the start and
// at the end (they must stay flat).
//
// Usage: bench_soak [cycles]   (default 500)
#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "CliProcess.h"
#include "MiniJson.h"
#include "SimProcess.h"

namespace {

using namespace std::chrono_literals;

struct TUsage {
    long RssKiB = 0;
    long Threads = 0;
    long Files = 0;
};

TUsage UsageOf(pid_t pid) {
    TUsage u;
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        std::istringstream fields(line);
        std::string key;
        long value = 0;
        fields >> key >> value;
        if (key == "VmRSS:") {
            u.RssKiB = value;
        } else if (key == "Threads:") {
            u.Threads = value;
        }
    }
    if (DIR* fds = ::opendir(("/proc/" + std::to_string(pid) + "/fd").c_str())) {
        while (const dirent* e = ::readdir(fds)) {
            u.Files += e->d_name[0] != '.';
        }
        ::closedir(fds);
    }
    return u;
}

// Waits for `pending` unit records; returns how many never came.
int TakeRecords(TCliProcess& station, int& pending) {
    int missing = 0;
    for (; pending > 0; --pending) {
        bool recorded = false;
        while (const auto line = station.NextLine(120s)) {
            if (TJsonReader::Parse(*line)["event"].String == "unit") {
                recorded = true;
                break;
            }
        }
        missing += !recorded;
    }
    return missing;
}

} // namespace

int main(int argc, char** argv) {
    const int cycles = argc > 1 ? std::atoi(argv[1]) : 500;
    if (cycles <= 0) {
        std::printf("usage: bench_soak [cycles]\n");
        return 1;
    }
    char pattern[] = "/tmp/bench-soak-XXXXXX";
    const std::string dir = ::mkdtemp(pattern);
    const std::string positions[] = {dir + "/bench-1", dir + "/bench-2"};
    const std::string log = dir + "/units.jsonl";
    TCliProcess station(
        {"--station", "--quiet", "--json", "--log", log, positions[0], positions[1]});

    int units = 0, pulled = 0, swapped = 0, twice = 0, missing = 0, pending = 0;
    TUsage first{};
    const auto began = std::chrono::steady_clock::now();
    for (int cycle = 0; cycle < cycles; ++cycle) {
        // Two units at a time, one a position; every fifth pulled in its write, every
        // seventh connected the moment the one before has gone.
        std::vector<std::unique_ptr<TSimProcess>> sims;
        for (const auto& position : positions) {
            std::vector<std::string> args = {"--link", position, "--geometry", "1,16,4"};
            if ((units + static_cast<int>(sims.size())) % 5 == 4) {
                args.insert(args.end(), {"--unplug-after", "9"});
                ++pulled;
            } else {
                args.push_back("--exit-after-reset");
            }
            sims.push_back(std::make_unique<TSimProcess>(args));
        }
        for (auto& sim : sims) {
            if (!sim->WaitForExit(120s)) {
                std::printf("cycle %d: a unit was never finished\n", cycle);
                return 1;
            }
            ++units;
            // One write each: a restart at most once (two reset frames), one erase pass.
            twice += sim->SummaryCount("resets") > 2;
        }
        pending += static_cast<int>(sims.size());
        if (cycle % 7 == 6) {
            ++swapped; // the next units come at once, before the station has recorded these
            continue;
        }
        missing += TakeRecords(station, pending);
        if (cycle == 9 || (cycles < 10 && cycle == 0)) {
            first = UsageOf(station.ProcessId());
        }
    }
    missing += TakeRecords(station, pending);
    const TUsage last = UsageOf(station.ProcessId());
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    station.Interrupt();
    station.Wait(60s);

    long records = 0, failed = 0;
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);) {
        records += !line.empty();
        failed += !line.empty() && TJsonReader::Parse(line)["outcome"].String != "flashed";
    }
    std::printf("%d cycles, %d units (%d pulled in their write, %d quick swaps) in %.0f s\n",
                cycles, units, pulled, swapped, seconds);
    std::printf("records %ld (units %d), of them failed %ld (pulled %d), units written twice %d, "
                "unit events missing %d\n",
                records, units, failed, pulled, twice, missing);
    std::printf("after 10 cycles: RSS %ld KiB, %ld open files, %ld threads\n", first.RssKiB,
                first.Files, first.Threads);
    std::printf("at the end:      RSS %ld KiB, %ld open files, %ld threads\n", last.RssKiB,
                last.Files, last.Threads);
    std::filesystem::remove_all(dir);
    return records == units && failed == pulled && twice == 0 && missing == 0 ? 0 : 1;
}
