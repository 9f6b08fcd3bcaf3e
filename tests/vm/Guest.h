// A QEMU guest for the real-driver test: Debian's kernel under TCG (no /dev/kvm needed), an
// initramfs from make-guest.sh, its console on the first 8250 UART, where its init runs one
// numbered command a line and answers "@@END <number> <status>", and QEMU's monitor on a Unix
// socket for plugging devices in and out.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

// Whether QEMU can be started at all; `why` says what is missing when not.
bool QemuCanStart(std::string& why);

class TGuest {
public:
    struct TResult {
        int Status = -1; // the command's exit status; -1 when it did not end in time
        std::string Output;
    };

    // Boots the guest from `dir` (vmlinuz, initrd.cpio.gz) with QEMU's own options `devices`
    // and waits for its init.  Throws std::runtime_error when the guest does not come up.
    TGuest(const std::string& dir, const std::vector<std::string>& devices,
           std::chrono::seconds bootLimit);
    ~TGuest();
    TGuest(const TGuest&) = delete;
    TGuest& operator=(const TGuest&) = delete;

    // Runs one shell command line in the guest and returns its output (both streams).
    TResult Run(const std::string& command, std::chrono::seconds limit);
    // One command of QEMU's human monitor ("device_del ftdi"); returns its answer.
    std::string Monitor(const std::string& command);

    // Everything the console has shown, for the test's report when something fails.
    const std::string& Console() const { return ConsoleText; }

private:
    // Reads the console until `marker` has appeared after `from`, or the deadline; returns
    // its position or npos.
    std::size_t WaitFor(const std::string& marker, std::size_t from,
                        std::chrono::steady_clock::time_point deadline);
    std::string ReadMonitorPrompt();

    std::string Dir;
    std::string MonitorPath;
    pid_t Pid = -1;
    int ConsoleIn = -1;
    int ConsoleOut = -1;
    int MonitorFd = -1;
    int Commands = 0;
    std::string ConsoleText;
};
