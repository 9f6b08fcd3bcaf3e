// Start-up time: from process start to the main window on screen with the firmware ready,
// beside a bare Qt window started the same way; and the peak memory after start-up.
//
// Without arguments it runs itself as a child in each mode several times, the modes taking
// turns, and prints the medians: on the platform QT_QPA_PLATFORM names (offscreen when
// unset), then, when Xvfb is installed, on an X display of its own (xcb), where the window
// must be mapped.  "--child
// flasher" starts the program's windows as the entry does; "--child bare" shows an empty
// QWidget.  A child prints "shown <peak kB>" once its window has been exposed and painted,
// then exits.
#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTimer>
#include <QWindow>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "Application.h"
#include "Feedback.h"
#include "Fonts.h"

namespace {

long PeakKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Paints the window at its first exposure, reports and ends the child.
class TExposeReport : public QObject {
public:
    TExposeReport(QWidget* window, const QElapsedTimer& sinceMain)
        : Window(window), SinceMain(sinceMain) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Expose && Window->windowHandle()->isExposed() && !Done) {
            Done = true;
            QTimer::singleShot(0, this, [this] {
                Window->repaint();
                std::printf("shown %ld %.3f\n", PeakKilobytes(),
                            static_cast<double>(SinceMain.nsecsElapsed()) / 1e6);
                std::fflush(stdout);
                QCoreApplication::quit();
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QWidget* Window;
    const QElapsedTimer& SinceMain;
    bool Done = false;
};

int RunChild(int argc, char** argv, bool flasher) {
    QElapsedTimer sinceMain;
    sinceMain.start();
    int toolkitArgc = 1;
    // As the program's entry does; a bare window has no text and needs no fonts.
    std::optional<Platform::TFontPreload> fonts;
    if (flasher) {
        Platform::ApplyEnvironmentLocale();
        fonts.emplace();
    }
    QApplication application(toolkitArgc, argv);
    if (fonts) {
        fonts->Wait();
    }
    (void)argc;
    TFeedback::SetSink([](const TFeedbackRecord&) {}); // the start-up beep stays silent
    TApplicationWindows windows;
    QWidget bare;
    QWidget* shown = &bare;
    if (flasher) {
        TFeedback::SetApplicationTitle(InitialApplicationTitle);
        windows = CreateApplicationWindows();
        if (windows.MainForm->StatusText() != "Мікропрограма готова до запису") {
            std::printf("not ready: %s\n", windows.MainForm->StatusText().c_str());
            return 1;
        }
        shown = windows.MainForm.get();
    } else {
        bare.resize(329, 127);
    }
    shown->show();
    // The window counts as shown once the platform has exposed it (on X: mapped) and it has
    // been painted.
    TExposeReport report(shown, sinceMain);
    shown->windowHandle()->installEventFilter(&report);
    return application.exec();
}

struct TRun {
    double Milliseconds;
    double FromMainMs; // the child's own time, loading and linking the program left out
    long PeakKb;
};

TRun RunOnce(const char* self, const char* mode) {
    QProcess child;
    QElapsedTimer timer;
    timer.start();
    child.start(QString::fromLocal8Bit(self),
                {QStringLiteral("--child"), QString::fromLatin1(mode)});
    child.waitForStarted();
    while (!child.canReadLine() && child.state() != QProcess::NotRunning) {
        child.waitForReadyRead(10);
    }
    const double ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    const QByteArray line = child.readLine();
    child.waitForFinished();
    long peak = 0;
    double fromMain = 0;
    std::sscanf(line.constData(), "shown %ld %lf", &peak, &fromMain);
    if (!line.startsWith("shown")) {
        std::printf("%s child failed: %s%s\n", mode, line.constData(),
                    child.readAllStandardError().constData());
    }
    return {ms, fromMain, peak};
}

template <class T> T Median(std::vector<T> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Each mode several times on the current platform, the two taking turns so that a change in
// the machine's load meets both alike; prints the medians and their ratio.
void RunSet(const char* self, int runs) {
    std::printf("platform: %s, %d runs each, medians\n", qgetenv("QT_QPA_PLATFORM").constData(),
                runs);
    const char* const modes[] = {"bare", "flasher"};
    std::vector<double> times[2];
    std::vector<double> fromMain[2];
    std::vector<long> peaks[2];
    for (int i = 0; i < runs; ++i) {
        for (int m = 0; m < 2; ++m) {
            const TRun run = RunOnce(self, modes[m]);
            times[m].push_back(run.Milliseconds);
            fromMain[m].push_back(run.FromMainMs);
            peaks[m].push_back(run.PeakKb);
        }
    }
    const double bare = Median(times[0]);
    for (int m = 0; m < 2; ++m) {
        const double median = Median(times[m]);
        std::printf("%-8s start to window shown: %7.1f ms   peak memory: %7.1f MiB", modes[m],
                    median, static_cast<double>(Median(peaks[m])) / 1024.0);
        if (m > 0) {
            std::printf("   %.2fx the bare window", median / bare);
        }
        std::printf("\n");
    }
    // From main on, the part the program's own code decides; the difference is the
    // window's cost beyond a bare one, and varies far less than the whole start.
    std::printf("from main to window shown: bare %.1f ms, flasher %.1f ms, difference %.1f ms\n",
                Median(fromMain[0]), Median(fromMain[1]),
                Median(fromMain[1]) - Median(fromMain[0]));
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    if (argc == 3 && std::strcmp(argv[1], "--child") == 0) {
        return RunChild(argc, argv, std::strcmp(argv[2], "flasher") == 0);
    }
    // "--runs N": runs of each mode per platform (15 unless given).
    const int runs = argc == 3 && std::strcmp(argv[1], "--runs") == 0 ? std::atoi(argv[2]) : 15;
    if (runs < 1) {
        std::fprintf(stderr, "usage: bench_startup [--runs N]\n");
        return 2;
    }
    QCoreApplication application(argc, argv);
    RunSet(argv[0], runs);
    // The same on an X server: a display of its own, so nothing else draws meanwhile.
    QProcess xvfb;
    xvfb.start(QStringLiteral("Xvfb"),
               {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"),
                QStringLiteral("tcp"), QStringLiteral("-screen"), QStringLiteral("0"),
                QStringLiteral("1280x1024x24")});
    if (!xvfb.waitForStarted()) {
        std::printf("xcb: Xvfb is not installed\n");
        return 0;
    }
    while (!xvfb.canReadLine() && xvfb.state() != QProcess::NotRunning) {
        xvfb.waitForReadyRead(100);
    }
    const QByteArray display = xvfb.readLine().trimmed();
    if (display.isEmpty()) {
        std::printf("xcb: Xvfb did not start\n");
        return 0;
    }
    qputenv("DISPLAY", ":" + display);
    qputenv("QT_QPA_PLATFORM", "xcb");
    RunSet(argv[0], runs);
    xvfb.terminate();
    xvfb.waitForFinished();
    return 0;
}
