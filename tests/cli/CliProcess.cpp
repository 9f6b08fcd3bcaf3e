#include "CliProcess.h"

#include "ChildProcess.h"

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <stdexcept>

#ifndef TARVEX_CLI_PATH
#error "TARVEX_CLI_PATH must name the tarvex6-flash binary"
#endif

std::string CliBinaryPath() {
    return TARVEX_CLI_PATH;
}

TCliProcess::TCliProcess(const std::vector<std::string>& args, bool onTerminal) {
    int out[2], err[2];
    if (pipe2(err, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    if (onTerminal) {
        // out[0] the side the test reads, out[1] the terminal the command writes to.
        winsize size{};
        size.ws_row = 24;
        size.ws_col = 80;
        if (openpty(&out[0], &out[1], nullptr, nullptr, &size) != 0) {
            throw std::runtime_error("openpty failed");
        }
        termios mode{};
        tcgetattr(out[1], &mode);
        cfmakeraw(&mode); // no CR added to line feeds
        tcsetattr(out[1], TCSANOW, &mode);
        fcntl(out[0], F_SETFD, FD_CLOEXEC);
        fcntl(out[1], F_SETFD, FD_CLOEXEC);
    } else if (pipe2(out, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    Pid = SpawnChild(CliBinaryPath(), args, out[1], err[1]);
    close(out[1]);
    close(err[1]);
    OutReader = std::thread([this, fd = out[0]] { Read(fd, Out, OutClosed); });
    ErrReader = std::thread([this, fd = err[0]] { Read(fd, Err, ErrClosed); });
}

TCliProcess::~TCliProcess() {
    if (!ExitCode) {
        Wait(std::chrono::milliseconds(0));
    }
    if (OutReader.joinable()) {
        OutReader.join();
    }
    if (ErrReader.joinable()) {
        ErrReader.join();
    }
}

void TCliProcess::Read(int fd, std::string& into, bool& closed) {
    char buffer[4096];
    while (true) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        const std::lock_guard guard(Lock);
        if (n <= 0) {
            closed = true;
            Changed.notify_all();
            break;
        }
        into.append(buffer, static_cast<std::size_t>(n));
        Changed.notify_all();
    }
    close(fd);
}

std::optional<std::string> TCliProcess::NextLine(std::chrono::milliseconds limit) {
    std::unique_lock guard(Lock);
    std::optional<std::string> line;
    Changed.wait_for(guard, limit, [&] {
        const std::size_t end = Out.find('\n', OutLinesTaken);
        if (end != std::string::npos) {
            line = Out.substr(OutLinesTaken, end - OutLinesTaken);
            OutLinesTaken = end + 1;
            return true;
        }
        return OutClosed;
    });
    return line;
}

void TCliProcess::Interrupt() {
    kill(Pid, SIGINT);
}

void TCliProcess::Signal(int signal) {
    kill(Pid, signal);
}

void TCliProcess::Kill() {
    kill(Pid, SIGKILL);
}

TCliRun TCliProcess::Wait(std::chrono::milliseconds limit) {
    if (!ExitCode) {
        // The command has ended when both of its outputs are closed.
        bool ended = false;
        {
            std::unique_lock guard(Lock);
            ended = Changed.wait_for(guard, limit, [&] { return OutClosed && ErrClosed; });
        }
        if (!ended) {
            kill(Pid, SIGKILL);
        }
        int status = 0;
        waitpid(Pid, &status, 0);
        ExitCode = !ended ? -1 : WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    if (OutReader.joinable()) {
        OutReader.join();
    }
    if (ErrReader.joinable()) {
        ErrReader.join();
    }
    const std::lock_guard guard(Lock);
    return {*ExitCode, Out, Err};
}

TCliRun RunCli(const std::vector<std::string>& args, std::chrono::milliseconds limit,
               bool onTerminal) {
    TCliProcess process(args, onTerminal);
    return process.Wait(limit);
}
