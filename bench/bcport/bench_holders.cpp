// What the look for a port's holders costs each Open: the full scan of every process's open
// files that a real device gets, the lock look that a pseudo-terminal gets, and a whole Open
// and Close of a pseudo-terminal.  Prints figures, asserts nothing.
#include <dirent.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "BCPort.h"
#include "ComTestHelpers.h"
#include "PortHoldersLinux.h"
#include "PtyPair.h"

namespace {

using Clock = std::chrono::steady_clock;

template <class F> void Measure(const char* what, int rounds, F&& action) {
    std::vector<double> ms;
    for (int i = 0; i < rounds; ++i) {
        const auto start = Clock::now();
        action();
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%-40s median %7.3f ms  p90 %7.3f ms  max %7.3f ms  (%d runs)\n", what,
                ms[ms.size() / 2], ms[ms.size() * 9 / 10], ms.back(), rounds);
}

// Processes and open files this user can see, the work of the full scan.
void CountProcesses() {
    int processes = 0, files = 0;
    if (DIR* proc = ::opendir("/proc")) {
        while (const dirent* p = ::readdir(proc)) {
            if (p->d_name[0] < '0' || p->d_name[0] > '9') {
                continue;
            }
            ++processes;
            if (DIR* fds = ::opendir((std::string("/proc/") + p->d_name + "/fd").c_str())) {
                while (::readdir(fds) != nullptr) {
                    ++files;
                }
                ::closedir(fds);
            }
        }
        ::closedir(proc);
    }
    std::printf("%d processes, %d open-file entries visible\n", processes, files);
}

} // namespace

int main() {
    CountProcesses();
    PtyPair pty;
    const TPortPlaces places;
    Measure("holders, every process (real device)", 200,
            [&] { FindPortHolders(pty.SlavePath, TPortHoldScan::Everything, places); });
    Measure("holders, locks only (pseudo-terminal)", 200,
            [&] { FindPortHolders(pty.SlavePath, TPortHoldScan::Locks, places); });
    TBComPort port;
    port.SetPort(pty.SlavePath);
    SetTimeouts(port, 1, 1, 1, 1, 1);
    Measure("Open + Close of a pseudo-terminal", 200, [&] {
        port.Open();
        port.Close();
    });
    return 0;
}
