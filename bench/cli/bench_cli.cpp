// tarvex6-flash against simulated instruments over pseudo-terminals at 115200 bit/s: one
// instrument, then three in one command, then the window's own flows on one instrument for
// comparison.  Prints each run's time beside the line-rate bound (every byte that crossed
// the line, both ways, at 10 bits per byte) and the ratio of three to one.
//
// Usage: bench_cli [KiB] [simulator options...]
//   KiB: flash size per instrument, a multiple of 16; default 64.  The simulator options
//   (for example --adapter ftdi --low-latency) go to every simulated instrument.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "BuiltinFirmware.h"
#include "CliProcess.h"
#include "FlashImage.h"
#include "Flows.h"
#include "MiniJson.h"
#include "PortSettings.h"
#include "QuietHost.h"
#include "SimProcess.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double Rate = 115200;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

std::vector<std::string> ExtraSimArgs;

std::vector<std::string> SimArgs(int kib) {
    std::vector<std::string> args = {"--geometry", "1,64," + std::to_string(kib * 16)};
    args.insert(args.end(), ExtraSimArgs.begin(), ExtraSimArgs.end());
    return args;
}

double Bound(const TSimProcess& sim) {
    return static_cast<double>(sim.SummaryCount("bytes received") +
                               sim.SummaryCount("bytes sent")) *
           10.0 / Rate;
}

struct TFigures {
    double Wall = 0;
    double WorstBound = 0;
    double Paused = 0; // the protocol's pauses of the port that took longest
    bool AllFlashed = true;
};

TFigures RunCommand(int instruments, int kib) {
    std::vector<std::unique_ptr<TSimProcess>> sims;
    std::vector<std::string> args;
    for (int i = 0; i < instruments; ++i) {
        sims.push_back(std::make_unique<TSimProcess>(SimArgs(kib)));
        args.push_back(sims.back()->PtyPath());
    }
    args.insert(args.begin(), "--json");
    const auto begin = Clock::now();
    const TCliRun run = RunCli(args, std::chrono::minutes(20));
    TFigures f;
    f.Wall = Seconds(Clock::now() - begin);
    f.AllFlashed = run.ExitCode == 0;
    for (auto& sim : sims) {
        sim->Stop();
        f.WorstBound = std::max(f.WorstBound, Bound(*sim));
    }
    std::printf("\n== tarvex6-flash, %d instrument%s of %d KiB ==\n", instruments,
                instruments == 1 ? "" : "s", kib);
    std::printf("exit code:            %d\n", run.ExitCode);
    std::printf("command (start to end): %.2f s\n", f.Wall);
    std::printf("line-rate bound:      %.2f s (the slowest line)\n", f.WorstBound);
    std::printf("ratio to the bound:   %.2fx (identification has 1.35 s of fixed pauses)\n",
                f.Wall / f.WorstBound);
    // The tuned pauses explain most of the spread between runs on a busy machine.
    std::size_t start = 0;
    double longest = 0;
    while (start < run.Out.size()) {
        const std::size_t end = run.Out.find('\n', start);
        const TJson line = TJsonReader::Parse(run.Out.substr(start, end - start));
        start = end == std::string::npos ? run.Out.size() : end + 1;
        if (line["event"].String != "result") {
            continue;
        }
        if (line["seconds"].Number >= longest) {
            longest = line["seconds"].Number;
            f.Paused = line["paused_seconds"].Number;
        }
        const auto& p = line["pauses"].Array;
        std::printf("  %s: %s in %.2f s (%.2f s of them in pauses: %.2fx the bound without), "
                    "%lld tries, %lld failed, pauses %lld.%lld.%lld ms\n",
                    line["port"].String.c_str(), line["outcome"].String.c_str(),
                    line["seconds"].Number, line["paused_seconds"].Number,
                    (line["seconds"].Number - line["paused_seconds"].Number) / f.WorstBound,
                    static_cast<long long>(line["tries"].Int()),
                    static_cast<long long>(line["failed_tries"].Int()),
                    static_cast<long long>(p[0].Int()), static_cast<long long>(p[1].Int()),
                    static_cast<long long>(p[2].Int()));
    }
    return f;
}

class TWindowStandIn : public TQuietHost {
public:
    std::string Port;
    std::string Calibration = "0.0.0";
    int FailedTries = 0;
    unsigned SleptMs = 0;
    void SetCalibrationText(const std::string& text) override {
        Calibration = text.substr(text.find(": ") + 2);
        ++FailedTries;
    }
    std::string PortText() override { return Port; }
    void Sleep(unsigned ms) override {
        SleptMs += ms;
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
    std::string LongTimeText() override { return "00:00:00"; }
};

TFigures RunWindowFlows(int kib, const TProgramState& prepared) {
    TSimProcess sim(SimArgs(kib));
    TWindowStandIn host;
    host.Port = sim.PtyPath();
    TProgramState state;
    state.FlashImage = prepared.FlashImage;
    TBComPort port;
    ApplyStoredPortSettings(port);
    TFlowContext ctx{host, state, port};
    const auto begin = Clock::now();
    const TWriteOutcome outcome = ButtonWriteClick(ctx);
    TFigures f;
    f.Wall = Seconds(Clock::now() - begin);
    f.AllFlashed = outcome == TWriteOutcome::Completed;
    port.Close();
    sim.Stop();
    f.WorstBound = Bound(sim);
    std::printf("\n== the window's flows (ButtonWriteClick), one instrument of %d KiB ==\n", kib);
    std::printf("outcome:              %s\n", f.AllFlashed ? "completed" : "not completed");
    std::printf("handler:              %.2f s\n", f.Wall);
    std::printf("line-rate bound:      %.2f s\n", f.WorstBound);
    std::printf("ratio to the bound:   %.2fx\n", f.Wall / f.WorstBound);
    const double paused = host.SleptMs / 1000.0;
    f.Paused = paused;
    std::printf("  %.2f s in pauses: %.2fx the bound without; %d failed tries, pauses %s ms\n",
                paused, (f.Wall - paused) / f.WorstBound, host.FailedTries - 1,
                host.Calibration.c_str());
    return f;
}

} // namespace

int main(int argc, char** argv) {
    int first = 1;
    const int kib = argc > 1 && argv[1][0] != '-' ? std::atoi(argv[first++]) : 64;
    for (int i = first; i < argc; ++i) {
        ExtraSimArgs.emplace_back(argv[i]);
    }
    if (kib <= 0 || kib % 16 != 0 || kib > 16384) {
        std::printf("the size must be a positive multiple of 16 KiB\n");
        return 1;
    }
    const TFigures one = RunCommand(1, kib);
    const TFigures three = RunCommand(3, kib);

    TQuietHost builder;
    TProgramState built;
    builder.Terminal.SetText(std::string(BuiltinFirmwareText()));
    if (!PrepareFlashImage(builder, built)) {
        std::printf("the built-in firmware did not build\n");
        return 1;
    }
    const TFigures window = RunWindowFlows(kib, built);

    std::printf("\n== summary ==\n");
    std::printf("three at once / one:  %.2fx (target at most 1.20x)%s\n", three.Wall / one.Wall,
                one.AllFlashed && three.AllFlashed ? "" : "  (a run did not flash)");
    std::printf("one instrument, ratio to the bound: command %.2fx, window's flows %.2fx\n",
                one.Wall / one.WorstBound, window.Wall / window.WorstBound);
    std::printf("  the same without the tuned pauses (they follow the failed tries of the "
                "moment): command %.2fx, window's flows %.2fx\n",
                (one.Wall - one.Paused) / one.WorstBound,
                (window.Wall - window.Paused) / window.WorstBound);
    return 0;
}
