// A pseudo-terminal for the serial tests: the component opens the slave by its path, the
// test plays the device on the master.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <string>

class PtyPair {
public:
    PtyPair() {
        char name[128] = {};
        if (::openpty(&Master, &Slave, name, nullptr, nullptr) != 0) {
            throw std::runtime_error("openpty failed");
        }
        SlavePath = name;
        // The master side must pass bytes untouched and echo nothing back.
        termios t{};
        ::tcgetattr(Master, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(Master, TCSANOW, &t);
    }
    ~PtyPair() {
        ::close(Master);
        ::close(Slave);
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    void Send(const std::string& bytes) const {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(Master, bytes.data() + done, bytes.size() - done);
            if (n <= 0) {
                throw std::runtime_error("write to the pty master failed");
            }
            done += static_cast<std::size_t>(n);
        }
    }

    // Reads `count` bytes from the master, giving up after `limit`.
    std::string Take(std::size_t count,
                     std::chrono::milliseconds limit = std::chrono::milliseconds(2000)) const {
        std::string got;
        const auto end = std::chrono::steady_clock::now() + limit;
        while (got.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            pollfd p{Master, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
                break;
            }
            char buffer[4096];
            const ssize_t n = ::read(Master, buffer, std::min(sizeof buffer, count - got.size()));
            if (n <= 0) {
                break;
            }
            got.append(buffer, static_cast<std::size_t>(n));
        }
        return got;
    }

    // Waits until bytes sent from the master are queued on the slave side (nothing is read).
    bool WaitQueuedOnSlave(int limitMs = 2000) const {
        pollfd p{Slave, POLLIN, 0};
        return ::poll(&p, 1, limitMs) == 1;
    }

    int Master = -1;
    int Slave = -1; // kept open by the test so the pty lives and its settings can be read
    std::string SlavePath;
};
