// tarvex6-sim: the TARVEX-6 instrument's bootloader on a pseudo-terminal, for the tests, the
// demo and the benchmarks.
#include "Options.h"
#include "PtyLine.h"
#include "Simulator.h"
#include "Transcript.h"

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace {

int stopPipe[2] = {-1, -1};

extern "C" void OnStopSignal(int) {
    const char byte = 's';
    [[maybe_unused]] const auto n = write(stopPipe[1], &byte, 1);
}

bool InstallStopSignals() {
    if (pipe(stopPipe) != 0) {
        return false;
    }
    for (const int fd : stopPipe) {
        fcntl(fd, F_SETFD, FD_CLOEXEC);
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        sigaction(signal, &action, nullptr);
    }
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

bool WriteFlash(const std::string& path, const Bootloader& device) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    const auto& flash = device.Flash();
    file.write(reinterpret_cast<const char*>(flash.data()), static_cast<long>(flash.size()));
    return static_cast<bool>(file);
}

} // namespace

int main(int argc, char** argv) {
    const auto start = Transcript::Clock::now();
#ifdef __linux__
    // The line's pacing is kept in tens of microseconds (a byte at 115200 bit/s lasts 87 us):
    // timed waits should not end up to the default 50 us late.
    prctl(PR_SET_TIMERSLACK, 1UL);
#endif
    const ParsedOptions parsed = ParseSimOptions(argc, argv);
    if (!parsed.Options) {
        std::fputs(parsed.Message.c_str(), parsed.ExitCode == 0 ? stdout : stderr);
        return parsed.ExitCode;
    }
    const SimOptions& options = *parsed.Options;
    if (!InstallStopSignals()) {
        std::perror("tarvex6-sim: pipe");
        return 1;
    }

    PtyLine line;
    std::string error = line.Open();
    if (error.empty() && !options.LinkPath.empty()) {
        error = line.Link(options.LinkPath);
    }
    Transcript transcript(start);
    if (error.empty() && !transcript.Open(options.LogOut)) {
        error = "can't create " + options.LogOut;
    }
    if (!error.empty()) {
        std::fprintf(stderr, "tarvex6-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("READY %s\n", line.SlavePath().c_str());
    std::fflush(stdout);

    Simulator simulator(options, line, transcript);
    simulator.Run(stopPipe[0]);

    int status = 0;
    if (!options.FlashOut.empty() && !WriteFlash(options.FlashOut, simulator.Device())) {
        std::fprintf(stderr, "tarvex6-sim: can't write %s\n", options.FlashOut.c_str());
        status = 1;
    }
    transcript.Summary(simulator.Device().Counts(), simulator.BytesReceived(),
                       simulator.BytesSent());
    line.Close(); // removes the link last, once the records are complete
    return status;
}
