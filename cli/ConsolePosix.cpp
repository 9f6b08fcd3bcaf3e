#include "Console.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>

namespace {

std::atomic<bool> Interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "used from a signal handler");

extern "C" void OnInterrupt(int) {
    if (Interrupted.exchange(true)) {
        // The second Ctrl+C: the user means it.
        ::signal(SIGINT, SIG_DFL);
        ::raise(SIGINT);
    }
}

std::string DevicePath(const std::string& port) {
    return !port.empty() && port[0] == '/' ? port : "/dev/" + port;
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
    ::sigaction(SIGINT, &action, nullptr);
}

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

bool BrokenDownTime(std::time_t t, std::tm& local, std::tm& utc) {
    return ::localtime_r(&t, &local) != nullptr && ::gmtime_r(&t, &utc) != nullptr;
}

std::string OpenableName(const std::string&, const std::string& devicePath) {
    return devicePath;
}

std::string PortIdentity(const std::string& port) {
    const std::string path = DevicePath(port);
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) != nullptr) {
        return resolved;
    }
    return path;
}

int PortOpenProblem(const std::string& port) {
    const std::string path = DevicePath(port);
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return errno == EACCES ? 2 : 1;
    }
    if (::access(path.c_str(), R_OK | W_OK) != 0) {
        return errno == ENOENT ? 1 : 2;
    }
    return 0;
}

} // namespace Console
