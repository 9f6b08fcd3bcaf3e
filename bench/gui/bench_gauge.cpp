// Nanoseconds per main-gauge step that changes no pixel, on the real, shown widget, and
// per look for pending input when none waits.
#include <QApplication>

#include <chrono>
#include <cstdio>

#include "Feedback.h"
#include "Gauge.h"
#include "MainForm.h"

namespace {

template <class F> double NanosecondsPer(long count, F&& step) {
    const auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < count; ++i) {
        step();
    }
    const std::chrono::duration<double, std::nano> spent = std::chrono::steady_clock::now() - start;
    return spent.count() / static_cast<double>(count);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    TFeedback::SetSink([](const TFeedbackRecord&) {});

    TGauge gauge;
    gauge.resize(315, 17);
    gauge.show();
    QApplication::processEvents();
    // A range so large that no step of the run moves the bar by a pixel.
    gauge.SetMaxValue(std::int64_t{1} << 50);
    constexpr long Steps = 50'000'000;
    const long before = gauge.RepaintRequests();
    const double perStep = NanosecondsPer(Steps, [&] { gauge.Advance(1); });
    std::printf("gauge Advance(1), no pixel change: %.2f ns/step (%ld steps, %ld repaints)\n",
                perStep, Steps, gauge.RepaintRequests() - before);

    TMainForm::TSeams seams;
    seams.ListPorts = [](std::vector<std::string>& list) { list = {"ttyS0"}; };
    seams.FirmwareText = ":00000001FF\r\n";
    TMainForm form(seams);
    form.show();
    QApplication::processEvents();
    constexpr long Looks = 20'000'000;
    const double perLook = NanosecondsPer(Looks, [&] { form.ProcessPendingInput(); });
    std::printf("ProcessPendingInput, nothing waiting: %.2f ns/call (%ld calls)\n", perLook, Looks);
    return 0;
}
