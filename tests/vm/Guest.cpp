#include "Guest.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

const char* const Qemu = "qemu-system-x86_64";

int MillisecondsUntil(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

void WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            throw std::runtime_error(std::string("write to the guest: ") + std::strerror(errno));
        }
        done += static_cast<std::size_t>(n);
    }
}

} // namespace

bool QemuCanStart(std::string& why) {
    const std::string probe = std::string(Qemu) + " -version >/dev/null 2>&1";
    if (std::system(probe.c_str()) != 0) {
        why = std::string(Qemu) + " cannot be started (package qemu-system-x86)";
        return false;
    }
    return true;
}

TGuest::TGuest(const std::string& dir, const std::vector<std::string>& devices,
               std::chrono::seconds bootLimit)
    : Dir(dir), MonitorPath(dir + "/monitor.sock") {
    std::vector<std::string> args = {Qemu,
                                     "-machine",
                                     "q35",
                                     "-accel",
                                     "tcg",
                                     "-m",
                                     "256",
                                     "-smp",
                                     "1",
                                     "-nodefaults",
                                     "-display",
                                     "none",
                                     "-no-reboot",
                                     "-kernel",
                                     dir + "/vmlinuz",
                                     "-initrd",
                                     dir + "/initrd.cpio.gz",
                                     "-append",
                                     "console=ttyS0 panic=-1 quiet loglevel=1",
                                     "-serial",
                                     "stdio",
                                     "-monitor",
                                     "unix:" + MonitorPath + ",server=on,wait=off"};
    args.insert(args.end(), devices.begin(), devices.end());
    ::unlink(MonitorPath.c_str());

    int in[2];
    int out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    Pid = ::fork();
    if (Pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (Pid == 0) {
        // QEMU ends with the test, even when the test is killed at its time limit.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::dup2(in[0], STDIN_FILENO);
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(out[1], STDERR_FILENO);
        ::execvp(Qemu, argv.data());
        _exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    ConsoleIn = in[1];
    ConsoleOut = out[0];

    const auto deadline = Clock::now() + bootLimit;
    const std::size_t ready = WaitFor("@@READY", 0, deadline);
    if (ready == std::string::npos) {
        throw std::runtime_error("the guest did not come up:\n" + ConsoleText);
    }
    WaitFor("\n", ready, deadline);

    // The monitor's socket exists from QEMU's start; the guest being up proves that.
    MonitorFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", MonitorPath.c_str());
    if (MonitorFd < 0 ||
        ::connect(MonitorFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        throw std::runtime_error("QEMU's monitor: " + std::string(std::strerror(errno)));
    }
    ReadMonitorPrompt(); // after the greeting
}

TGuest::~TGuest() {
    if (Pid > 0) {
        ::kill(Pid, SIGTERM);
        int status = 0;
        while (::waitpid(Pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    for (const int fd : {ConsoleIn, ConsoleOut, MonitorFd}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    ::unlink(MonitorPath.c_str());
}

std::size_t TGuest::WaitFor(const std::string& marker, std::size_t from,
                            Clock::time_point deadline) {
    for (;;) {
        const std::size_t at = ConsoleText.find(marker, from);
        if (at != std::string::npos) {
            return at;
        }
        pollfd p{ConsoleOut, POLLIN, 0};
        const int ready = ::poll(&p, 1, MillisecondsUntil(deadline));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            return std::string::npos;
        }
        char buffer[4096];
        const ssize_t n = ::read(ConsoleOut, buffer, sizeof buffer);
        if (n <= 0) {
            return std::string::npos; // QEMU has ended
        }
        ConsoleText.append(buffer, static_cast<std::size_t>(n));
    }
}

TGuest::TResult TGuest::Run(const std::string& command, std::chrono::seconds limit) {
    // The number tells this command's end from that of one given up on earlier.
    const std::string end = "@@END " + std::to_string(++Commands) + " ";
    const std::size_t start = ConsoleText.size();
    WriteAll(ConsoleIn, std::to_string(Commands) + " " + command + "\n");
    TResult result;
    const std::size_t at = WaitFor(end, start, Clock::now() + limit);
    if (at == std::string::npos) {
        result.Output = ConsoleText.substr(start);
        return result;
    }
    const std::size_t lineEnd = WaitFor("\n", at, Clock::now() + std::chrono::seconds(5));
    result.Output = ConsoleText.substr(start, at - start);
    result.Status =
        std::atoi(ConsoleText.substr(at + end.size(), lineEnd - at - end.size()).c_str());
    return result;
}

std::string TGuest::Monitor(const std::string& command) {
    WriteAll(MonitorFd, command + "\n");
    return ReadMonitorPrompt();
}

// The monitor ends each answer with its prompt "(qemu) ".
std::string TGuest::ReadMonitorPrompt() {
    std::string answer;
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (answer.size() < 7 || answer.compare(answer.size() - 7, 7, "(qemu) ") != 0) {
        pollfd p{MonitorFd, POLLIN, 0};
        const int ready = ::poll(&p, 1, MillisecondsUntil(deadline));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            throw std::runtime_error("QEMU's monitor did not answer: " + answer);
        }
        char buffer[1024];
        const ssize_t n = ::read(MonitorFd, buffer, sizeof buffer);
        if (n <= 0) {
            throw std::runtime_error("QEMU's monitor closed");
        }
        answer.append(buffer, static_cast<std::size_t>(n));
    }
    return answer;
}
