// Time of PrepareFlashImage on the built-in firmware, beside the floor of writing the same
// 40 MB of 'F' without a window, and the process's peak memory.
//
// The host's ProcessPendingInput does what a window's does when no input waits: count the
// call and, every 64th call, read the clock to see whether a repaint is due.  The gauge
// model notifies only on pixel changes of a 315-pixel bar, as the window's does.
// Usage: bench_image [repetitions]
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BuiltinFirmware.h"
#include "FlashImage.h"
#include "HexCheck.h"
#include "QuietHost.h"

namespace {

using Clock = std::chrono::steady_clock;

class TBenchHost : public TQuietHost {
public:
    long Calls = 0;
    long ClockReads = 0;
    long Repaints = 0;
    Clock::time_point LastLook = Clock::now();

    TBenchHost() {
        Gauge.SetPixelWidth(315);
        Gauge.SetOnVisibleChange([this] { ++Repaints; });
    }
    void ProcessPendingInput() override {
        if ((++Calls & 63) == 0) {
            LastLook = Clock::now();
            ++ClockReads;
        }
    }
    void ShowMessage(const std::string& text) override {
        std::fprintf(stderr, "message: %s\n", text.c_str());
    }
};

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

long PeakRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    std::printf("peak rss at start: %ld KiB\n", PeakRssKiB());
    {
        // Alone first, so the high-water mark shows what one preparation needs.
        TBenchHost host;
        host.Terminal.SetText(std::string(BuiltinFirmwareText()));
        TProgramState state;
        if (!PrepareFlashImage(host, state)) {
            return 1;
        }
        std::printf("peak rss after one preparation: %ld KiB (the image's text is 39063 KiB, "
                    "of which %zu KiB are stored)\n",
                    PeakRssKiB(), state.FlashImage.StoredPages() * TImageText::PageChars / 1024);
    }

    // Floors: a fresh 40 MB string of 'F' (allocation and first touch of every page), and
    // the same characters written again into a string that already has them.
    std::vector<double> fresh, warm;
    std::size_t sink = 0;
    std::string kept(FlashImageChars, 'F');
    for (int r = 0; r < repetitions; ++r) {
        auto t0 = Clock::now();
        {
            std::string s(FlashImageChars, 'F');
            sink += static_cast<unsigned char>(s[s.size() / 2]);
        }
        fresh.push_back(Ms(Clock::now() - t0));
        t0 = Clock::now();
        std::fill(kept.begin(), kept.end(), 'F');
        sink += static_cast<unsigned char>(kept[kept.size() / 2]);
        warm.push_back(Ms(Clock::now() - t0));
    }
    kept = std::string();

    // The preparation on the built-in firmware: with a new image each time, as at start-up,
    // and with the image kept, as the window keeps it when another file is opened.
    std::vector<double> check, first, again;
    long calls = 0, reads = 0, repaints = 0;
    TProgramState keptState;
    for (int r = 0; r < repetitions; ++r) {
        for (const bool newState : {true, false}) {
            TBenchHost host;
            host.Terminal.SetText(std::string(BuiltinFirmwareText()));
            TProgramState freshState;
            TProgramState& state = newState ? freshState : keptState;
            auto t0 = Clock::now();
            if (!CheckHexLines(host)) {
                return 1;
            }
            check.push_back(Ms(Clock::now() - t0));
            t0 = Clock::now();
            if (!PrepareFlashImage(host, state)) {
                return 1;
            }
            (newState ? first : again).push_back(Ms(Clock::now() - t0));
            calls = host.Calls;
            reads = host.ClockReads;
            repaints = host.Repaints;
        }
    }

    std::printf("repetitions: %d (medians)\n", repetitions);
    std::printf("floor, new std::string(40,000,000, 'F'):       %8.2f ms\n", Median(fresh));
    std::printf("floor, 40,000,000 'F' into an existing string:  %8.2f ms\n", Median(warm));
    std::printf("CheckHexLines, built-in firmware (3914 lines):  %8.2f ms\n", Median(check));
    std::printf(
        "PrepareFlashImage, new image (start-up):        %8.2f ms  (%.2f x new-string floor)\n",
        Median(first), Median(first) / Median(fresh));
    std::printf("PrepareFlashImage, image kept (next file):      %8.2f ms  (%.2f x existing-string "
                "floor)\n",
                Median(again), Median(again) / Median(warm));
    std::printf("  per preparation: pending-input calls %ld, clock reads %ld, gauge repaints %ld\n",
                calls, reads, repaints);
    std::printf("peak rss at the end: %ld KiB (the floors and two images at once)\n", PeakRssKiB());
    return sink == 0 ? 2 : 0;
}
