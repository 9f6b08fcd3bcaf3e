// Runs the instrument simulator tarvex6-sim as a child process for a test.
//
// The simulator prints "READY <pty path>" first; the constructor waits for that line (a
// bounded wait: a simulator that never gets ready fails the test instead of hanging it).
// Its transcript and flash record go to a private temporary folder and are read back once
// the simulator has ended, since it writes both files at its exit.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TSimProcess {
public:
    // `args` are the simulator's options; --log-out and --flash-out are added.
    explicit TSimProcess(std::vector<std::string> args);
    ~TSimProcess();
    TSimProcess(const TSimProcess&) = delete;
    TSimProcess& operator=(const TSimProcess&) = delete;

    const std::string& PtyPath() const { return Pty; }

    // Ends the simulator (SIGTERM unless it has ended already) and waits for it.  Returns
    // its exit status as waitpid reports it.  Safe to call more than once.
    int Stop();
    // Waits up to `limit` for the simulator to end by itself (--exit-after-reset,
    // --unplug-after).  True when it did.
    bool WaitForExit(std::chrono::milliseconds limit);

    // After Stop or WaitForExit: the transcript and its parts.
    std::string Transcript() const;
    // Payloads of the transcript's received lines, in order ("ggggg", "g0202;", ...).
    std::vector<std::string> Received() const;
    // The frames among them (those that end with ";").
    std::vector<std::string> ReceivedFrames() const;
    // A count from the transcript's summary ("bytes received", "erases", ...); -1 if absent.
    long SummaryCount(const std::string& name) const;
    // The flash content the simulator recorded at its exit.
    std::string Flash() const;

    // Everything the simulator printed on stdout and stderr.
    std::string Output() const;

private:
    void ReadOutput(int fd);
    std::string ReadFile(const std::string& path) const;

    std::string Dir;
    std::string LogPath;
    std::string FlashPath;
    std::string Pty;
    pid_t Pid = -1;
    int Status = 0;
    bool Ended = false;

    mutable std::mutex Lock;
    std::condition_variable Changed;
    std::string OutputText;
    bool OutputClosed = false;
    std::thread Reader;
};

// Path of the simulator binary this build made.
std::string SimBinaryPath();

// Decodes the transcript's escapes (\r, \n, \\, \xHH).
std::string UnescapeTranscript(const std::string& text);
