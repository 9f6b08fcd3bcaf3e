// A child process of the test that holds a port the way a terminal program or a second
// flasher would: it opens the device (and with THold::Flock locks it) and keeps it until the
// test ends.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

// How the child holds the device.
enum class THold { Open, Flock };

// A child process named `name` that opens `path` and keeps it until it is killed.
class HolderChild {
public:
    HolderChild(const std::string& path, const char* name, THold hold) {
        int ready[2];
        if (::pipe(ready) != 0) {
            throw std::runtime_error("pipe failed");
        }
        Pid = ::fork();
        if (Pid == 0) {
            ::close(ready[0]);
            ::prctl(PR_SET_NAME, name);
            const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
            char ok = fd >= 0 && (hold != THold::Flock || ::flock(fd, LOCK_EX) == 0) ? 1 : 0;
            (void)!::write(ready[1], &ok, 1);
            for (;;) {
                ::pause();
            }
        }
        ::close(ready[1]);
        char ok = 0;
        const bool got = Pid > 0 && ::read(ready[0], &ok, 1) == 1;
        ::close(ready[0]);
        if (!got || ok != 1) {
            throw std::runtime_error("the holding child did not start");
        }
    }
    ~HolderChild() {
        ::kill(Pid, SIGKILL);
        ::waitpid(Pid, nullptr, 0);
    }
    HolderChild(const HolderChild&) = delete;
    HolderChild& operator=(const HolderChild&) = delete;

    pid_t Pid = -1;
};
