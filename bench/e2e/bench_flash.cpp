// Flashing the built-in firmware into a 64 KiB simulated instrument over a pseudo-terminal,
// with the simulator pacing the line at the chosen rate (10 bits per byte) and answering at
// once.  Prints the time of the write beside the line-rate bound (every byte that crossed
// the line, both ways, at 10 bits per byte), the tries and tuned pauses, and the process's
// peak memory during the write.
//
// The flows run over the real serial component with the window's port settings (every
// time-out 1 ms, smThreadSync, no handler) and a window stand-in that sleeps for real and
// shows nothing; like the window, it runs the event thread's deliveries whenever the flows
// let it process pending input.
// Usage: bench_flash [--whole-replies] [--adapter NAME [--latency-ms N] [--low-latency]]
//                    [rate ...]
//   rates from the baud-rate list; default 115200 9600.  --whole-replies: the simulator hands
//   each reply over in one piece when its last byte would have arrived (as a USB adapter
//   does), so its own wake-ups between the bytes of a reply cannot cut it.
// With BENCH_FLASH_TRANSCRIPT=<file> the simulator's transcript of the last rate goes there.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "BuiltinFirmware.h"
#include "ComThread.h"
#include "ComUiThread.h"
#include "ExchangeTimes.h"
#include "FlashImage.h"
#include "Flows.h"
#include "PortSettings.h"
#include "QuietHost.h"
#include "SimProcess.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int Rates[] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                         19200, 38400, 56000, 57600, 115200, 128000, 256000};

class TBenchHost : public TQuietHost {
public:
    std::string Port;
    int BaudIndex = 12;
    std::string Calibration;
    std::vector<std::string> Messages;
    Clock::time_point WriteStarted{}, WriteEnded{};
    TComUiQueue PortUi;
    const TBComPort* PortSeen = nullptr;
    const TProgramState* State = nullptr;
    std::vector<std::string> FailedReplies;
    std::size_t Deliveries = 0, Looks = 0, LooksWithThread = 0;

    void ProcessPendingInput() override {
        Deliveries += PortUi.RunPending();
        ++Looks;
        if (PortSeen != nullptr && PortSeen->EventThread() != nullptr &&
            !PortSeen->EventThread()->Finished()) {
            ++LooksWithThread;
        }
    }

    void SetStatusText(const std::string& text) override {
        if (text == "Йде запис! Заборонено переривати!") {
            WriteStarted = Clock::now();
        }
    }
    void SetCalibrationText(const std::string& text) override {
        Calibration = text;
        if (State != nullptr) {
            FailedReplies.push_back(State->LastReply); // called once per failed try
        }
    }
    std::string PortText() override { return Port; }
    int BaudRateIndex() override { return BaudIndex; }
    void ShowMessage(const std::string& text) override {
        if (WriteEnded == Clock::time_point{}) {
            WriteEnded = Clock::now();
        }
        Messages.push_back(text);
    }
    void Sleep(unsigned ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
    std::string LongTimeText() override { return "00:00:00"; }
};

long StatusKb(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(field) + ":";
    while (std::getline(status, line)) {
        if (line.rfind(prefix, 0) == 0) {
            return std::atol(line.c_str() + prefix.size());
        }
    }
    return -1;
}

// Lets VmHWM start again from the present resident size.
void ResetPeakMemory() {
    const int fd = open("/proc/self/clear_refs", O_WRONLY);
    if (fd >= 0) {
        [[maybe_unused]] const auto n = write(fd, "5", 1);
        close(fd);
    }
}

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

void Run(int rate, const TImageText& image, const std::vector<std::string>& simArgs) {
    int index = -1;
    for (int i = 0; i < 15; ++i) {
        if (Rates[i] == rate) {
            index = i;
        }
    }
    if (index < 0) {
        std::printf("%d is not in the baud-rate list\n", rate);
        return;
    }

    TSimProcess sim(simArgs); // 64 KiB: 1024 units of one 64-byte block, reports 241003
    TBenchHost host;
    host.Port = sim.PtyPath();
    host.BaudIndex = index;
    TProgramState state;
    state.FlashImage = image;
    TBComPort port;
    ApplyStoredPortSettings(port);
    port.SetUiThread(&host.PortUi);
    host.PortSeen = &port;
    host.State = &state;
    TFlowContext ctx{host, state, port};

    ResetPeakMemory();
    const long rssBefore = StatusKb("VmRSS");
    const auto begin = Clock::now();
    std::string error;
    try {
        ButtonWriteClick(ctx);
    } catch (const std::exception& e) {
        error = e.what();
    }
    const auto end = Clock::now();
    const long peak = StatusKb("VmHWM");
    port.Close();
    sim.Stop();
    const std::string transcript = sim.Transcript();
    if (const char* path = std::getenv("BENCH_FLASH_TRANSCRIPT")) {
        std::ofstream(path) << transcript;
    }
    const TExchangeTimes exchanges = MeasureExchanges(transcript, rate);

    const long received = sim.SummaryCount("bytes received");
    const long sent = sim.SummaryCount("bytes sent");
    const double bound = static_cast<double>(received + sent) * 10.0 / rate;
    const bool completed =
        !host.Messages.empty() && host.Messages.back().find("успішно") != std::string::npos;
    const double write = host.WriteStarted != Clock::time_point{} && completed
                             ? Seconds(host.WriteEnded - host.WriteStarted)
                             : 0.0;
    const long tries = static_cast<long>(host.Memo.LineCount()) - 1;

    std::printf("\n== 64 KiB at %d bit/s ==\n", rate);
    std::printf("outcome:              %s\n",
                completed       ? "completed"
                : error.empty() ? (host.Messages.empty() ? "?" : host.Messages.back().c_str())
                                : error.c_str());
    std::printf("bytes on the line:    %ld to the instrument, %ld back\n", received, sent);
    std::printf("line-rate bound:      %.2f s\n", bound);
    std::printf("whole handler:        %.2f s  (%.2fx the bound; identification has 1.35 s "
                "of fixed pauses)\n",
                Seconds(end - begin), Seconds(end - begin) / bound);
    if (write > 0) {
        std::printf("write (start to end): %.2f s  (%.2fx the bound)\n", write, write / bound);
    }
    PrintExchangeTimes(exchanges, rate, bound);
    std::printf("tries:                %ld for %ld frames; pauses %s ms\n", tries, 1024L * 3,
                host.Calibration.empty() ? "0.0.0" : host.Calibration.c_str());
    std::string replies;
    for (std::size_t i = 0; i < host.FailedReplies.size() && i < 12; ++i) {
        replies += " \"";
        for (const char c : host.FailedReplies[i]) {
            if (c >= 32 && c < 127) {
                replies += c;
            } else {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(c));
                replies += hex;
            }
        }
        replies += "\"";
    }
    std::printf("failed replies:      %s%s\n", replies.c_str(),
                host.FailedReplies.size() > 12 ? " ..." : "");
    std::printf("event thread:         running at %zu of %zu input looks; %zu deliveries run\n",
                host.LooksWithThread, host.Looks, host.Deliveries);
    std::printf("memory:               %ld KiB resident before, %ld KiB peak during the write "
                "(+%ld KiB)\n",
                rssBefore, peak, peak - rssBefore);
}

} // namespace

int main(int argc, char** argv) {
    // The image as the start-up builds it: 40,000,000 hex characters.
    TBenchHost builder;
    TProgramState built;
    builder.Terminal.SetText(std::string(BuiltinFirmwareText()));
    if (!PrepareFlashImage(builder, built) || built.FlashImage.size() != FlashImageChars) {
        std::printf("the built-in firmware did not build\n");
        return 1;
    }
    const TImageText image = built.FlashImage;
    builder.Terminal.Clear();

    std::vector<int> rates;
    std::vector<std::string> simArgs;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg.rfind("--", 0) == 0) { // a simulator option, with its value where it has one
            simArgs.emplace_back(arg);
            if ((arg == "--adapter" || arg == "--latency-ms") && i + 1 < argc) {
                simArgs.emplace_back(argv[++i]);
            }
        } else {
            rates.push_back(std::atoi(argv[i]));
        }
    }
    if (rates.empty()) {
        rates = {115200, 9600};
    }
    for (const int rate : rates) {
        Run(rate, image, simArgs);
    }
    return 0;
}
