// Runs tarvex6-flash as a child process for a test, with its stdout and stderr captured.
//
// Waits are bounded: a command that never ends fails the test (and is killed) instead of
// hanging it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

struct TCliRun {
    int ExitCode = -1; // -1 when it did not end by itself in time
    std::string Out;
    std::string Err;
};

class TCliProcess {
public:
    // With `onTerminal` the command's stdout is a pseudo-terminal of 80 columns (its stderr
    // stays a pipe), so it draws its live lines.
    explicit TCliProcess(const std::vector<std::string>& args, bool onTerminal = false);
    ~TCliProcess();
    TCliProcess(const TCliProcess&) = delete;
    TCliProcess& operator=(const TCliProcess&) = delete;

    // The next whole line of stdout, waiting up to `limit`; none at its end or after `limit`.
    std::optional<std::string> NextLine(std::chrono::milliseconds limit);
    // Ctrl+C.
    void Interrupt();
    // Any other signal (SIGTERM, SIGHUP).
    void Signal(int signal);
    // As a power cut or the task manager ends it: at once, with no chance to tidy up.
    void Kill();
    // The command's process, e.g. to read its CPU time.
    pid_t ProcessId() const { return Pid; }
    // Waits up to `limit` for the end; kills the command after that.
    TCliRun Wait(std::chrono::milliseconds limit);

private:
    void Read(int fd, std::string& into, bool& closed);

    pid_t Pid = -1;
    std::mutex Lock;
    std::condition_variable Changed;
    std::string Out, Err;
    bool OutClosed = false, ErrClosed = false;
    std::size_t OutLinesTaken = 0; // characters of Out already given out by NextLine
    std::thread OutReader, ErrReader;
    std::optional<int> ExitCode;
};

// Runs the command to its end (at most `limit`).
TCliRun RunCli(const std::vector<std::string>& args,
               std::chrono::milliseconds limit = std::chrono::minutes(4), bool onTerminal = false);

std::string CliBinaryPath();
