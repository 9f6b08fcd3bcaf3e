// The real main window (offscreen) writing its built-in firmware into a 64 KiB simulated
// instrument at 115200 bit/s, "Прошити" pressed as a user would: the window's own pending-
// input pass, gauges, log and event thread all take part.  Prints the write's time beside
// the line-rate bound and the floor of line and quiet interval, and what the exchanges took
// beyond that floor; message boxes and sounds are recorded, not shown.
//
// Usage: bench_window_flash [simulator options: --whole-replies, --adapter NAME, ...]
#include <QApplication>
#include <QToolButton>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Application.h"
#include "ExchangeTimes.h"
#include "Recorder.h"
#include "SimProcess.h"

namespace {

// The write's span in the simulator's transcript: from the first erase frame's arrival to
// the last commit reply's end on the line.
double WriteSeconds(const std::string& transcript, int rate) {
    double first = -1, last = -1;
    for (const TTranscriptLine& line : ReadTranscriptLines(transcript)) {
        if (line.Kind == "RX" && line.Bytes.rfind("g04", 0) == 0 && first < 0) {
            first = line.Ms;
        }
        if (line.Kind == "TX" && line.Bytes.rfind("g86", 0) == 0) {
            last = line.Ms + static_cast<double>(line.Bytes.size()) * 10000.0 / rate;
        }
    }
    return first >= 0 && last > first ? (last - first) / 1000.0 : 0.0;
}

} // namespace

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    std::vector<std::string> simArgs;
    for (int i = 1; i < argc; ++i) {
        simArgs.emplace_back(argv[i]);
    }
    QApplication app(argc, argv);
    TFeedbackRecorder recorder;
    TSimProcess sim(simArgs);

    TMainForm::TSeams seams;
    const std::string port = sim.PtyPath();
    seams.ListPorts = [port](std::vector<std::string>& list) { list = {port}; };
    TApplicationWindows windows = CreateApplicationWindows(std::move(seams));
    TMainForm& form = *windows.MainForm;
    form.show();
    QApplication::processEvents();
    if (form.PortText() != port || form.BaudRateIndex() != 12) {
        std::printf("the window did not take the simulator's port at 115200\n");
        return 1;
    }

    const auto begin = std::chrono::steady_clock::now();
    form.ButtonWrite->click();
    const double handler =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    sim.Stop();

    constexpr int Rate = 115200;
    const std::string transcript = sim.Transcript();
    const double bound =
        static_cast<double>(sim.SummaryCount("bytes received") + sim.SummaryCount("bytes sent")) *
        10.0 / Rate;
    const auto messages = recorder.Texts(TFeedbackRecorder::TKind::Message);
    const bool completed = messages.size() == 1 && messages[0].find("успішно") != std::string::npos;
    const double write = WriteSeconds(transcript, Rate);

    std::printf("\n== the window: 64 KiB at %d bit/s%s ==\n", Rate,
                simArgs.empty() ? "" : ", whole replies");
    std::printf("outcome:              %s\n", completed ? "completed" : "NOT completed");
    std::printf("line-rate bound:      %.2f s\n", bound);
    std::printf("whole handler:        %.2f s  (%.2fx the bound)\n", handler, handler / bound);
    std::printf("write (first erase to last commit reply): %.2f s  (%.2fx the bound)\n", write,
                write / bound);
    PrintExchangeTimes(MeasureExchanges(transcript, Rate), Rate, bound);
    std::printf("pauses:               %s\n", form.CalibrationText().c_str());
    return completed ? 0 : 1;
}
