#include "Console.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <ctime>
#include <string>

namespace {

std::atomic<bool> Interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "used from a signal handler");

extern "C" void OnInterrupt(int signal) {
    if (Interrupted.exchange(true)) {
        // The second Ctrl+C (or SIGTERM, SIGHUP): the user means it.
        ::signal(signal, SIG_DFL);
        ::raise(signal);
    }
}

} // namespace

namespace Console {

std::vector<std::string> Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv + 1, argv + argc);
}

void InstallInterruptHandler() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        ::sigaction(signal, &action, nullptr);
    }
    // A reader that went away (a pipe's end closed, a terminal gone) must not end a write
    // before its record: output then fails quietly instead.
    ::signal(SIGPIPE, SIG_IGN);
}

void Finished() {}

bool InterruptRequested() {
    return Interrupted.load();
}

void RequestInterrupt() {
    Interrupted.store(true);
}

void PrepareOutput() {}

bool StdoutIsTerminal() {
    return ::isatty(STDOUT_FILENO) == 1;
}

bool StderrIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

int TerminalColumns() {
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    return 0;
}

int TerminalRows() {
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0) {
        return size.ws_row;
    }
    return 0;
}

std::string LongTimeText() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char text[32];
    const std::size_t n = std::strftime(text, sizeof text, "%X", &local);
    return std::string(text, n);
}

} // namespace Console
