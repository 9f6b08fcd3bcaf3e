// The Linux layer of the serial component: termios2 for any bit rate, flock and TIOCEXCL
// for exclusive use, non-blocking descriptors with ppoll for the time-out rules.
//
// <asm/termbits.h> (struct termios2, BOTHER) clashes with <termios.h>, so this file uses
// the kernel's definitions only and never includes <termios.h>.
#include <asm/termbits.h>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>

#include "ComOs.h"
#include "ComTiming.h"

namespace {

timespec ToTimespec(std::uint64_t ns) {
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(ns / 1000000000ULL);
    ts.tv_nsec = static_cast<long>(ns % 1000000000ULL);
    return ts;
}

// Waits until `events` are ready on fd or `timeoutNs` (empty: no limit) has passed.
// Returns the ready events, 0 on time-out, -1 on failure; interrupted waits are resumed
// with what is left of the time.
int WaitFor(int fd, short events, std::optional<std::uint64_t> timeoutNs) {
    const std::uint64_t start = MonotonicNs();
    for (;;) {
        pollfd p{fd, events, 0};
        timespec ts{};
        const timespec* limit = nullptr;
        if (timeoutNs) {
            const std::uint64_t spent = MonotonicNs() - start;
            ts = ToTimespec(spent < *timeoutNs ? *timeoutNs - spent : 0);
            limit = &ts;
        }
        const int r = ppoll(&p, 1, limit, nullptr);
        if (r > 0) {
            return p.revents;
        }
        if (r == 0) {
            return 0;
        }
        if (errno != EINTR) {
            return -1;
        }
    }
}

void Pause(std::uint64_t ns) {
    timespec ts = ToTimespec(ns);
    while (clock_nanosleep(CLOCK_MONOTONIC, 0, &ts, &ts) == EINTR) {
    }
}

// Modem-line and queue ioctls that a pseudo-terminal or some USB adapters do not offer,
// or that a device gone away answers with EIO: there is nothing to switch or discard.
bool NothingToDo(int err) {
    return err == ENOTTY || err == EINVAL || err == EIO;
}

tcflag_t DataBitsFlag(std::uint8_t bits) {
    switch (bits) {
    case 5:
        return CS5;
    case 6:
        return CS6;
    case 7:
        return CS7;
    default:
        return CS8;
    }
}

class TComOsPosix final : public TComOs {
public:
    ~TComOsPosix() override { CloseDevice(); }

    TComOpenResult OpenDevice(const std::string& port) override {
        CloseDevice();
        const std::string path = !port.empty() && port[0] == '/' ? port : "/dev/" + port;
        int fd = -1;
        do {
            fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0) {
            return ClassifyOpenError(errno);
        }
        // flock keeps out every other open, root's included; TIOCEXCL adds the kernel's own
        // refusal for programs that do not lock.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int err = errno;
            ::close(fd);
            return err == EWOULDBLOCK ? TComOpenResult::Denied : TComOpenResult::Other;
        }
        if (::ioctl(fd, TIOCEXCL) != 0) {
            ::close(fd);
            return TComOpenResult::Other;
        }
        Fd = fd;
        return TComOpenResult::Ok;
    }

    void CloseDevice() override {
        if (Fd < 0) {
            return;
        }
        // The exclusive mark belongs to the tty, not to this descriptor: lift it so the
        // next user is not refused while someone else still holds the device open.
        ::ioctl(Fd, TIOCNXCL);
        ::close(Fd);
        Fd = -1;
    }

    bool SetupBuffers(std::int32_t, std::int32_t) override {
        // The kernel sizes its own queues; the sizes are only a hint.
        return Fd >= 0;
    }

    bool ApplyLineSettings(const TComLineSettings& line) override {
        if (Fd < 0 || line.BaudRate == 0 || line.ByteSize < 5 || line.ByteSize > 8 ||
            line.Parity > 4 || line.StopBits > 2) {
            return false;
        }
        // A UART sends 1.5 stop bits only with 5 data bits, and 2 only with more.
        const bool fiveBits = line.ByteSize == 5;
        if ((line.StopBits == 1 && !fiveBits) || (line.StopBits == 2 && fiveBits)) {
            return false;
        }
        termios2 t{};
        if (::ioctl(Fd, TCGETS2, &t) != 0) {
            return false;
        }
        t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                            ICRNL | IXON | IXOFF | IXANY | INPCK | IGNPAR);
        if ((line.Flags & ComFlagParity) != 0) {
            t.c_iflag |= INPCK;
        }
        if ((line.Flags & ComFlagOutX) != 0) {
            t.c_iflag |= IXON;
        }
        if ((line.Flags & ComFlagInX) != 0) {
            t.c_iflag |= IXOFF;
        }
        t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
        t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
        t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT) | CSIZE | CSTOPB | PARENB |
                                            PARODD | CMSPAR | CRTSCTS | HUPCL);
        t.c_cflag |= BOTHER | (BOTHER << IBSHIFT) | CLOCAL | CREAD | DataBitsFlag(line.ByteSize);
        if (line.StopBits != 0) {
            t.c_cflag |= CSTOPB;
        }
        switch (line.Parity) {
        case 1:
            t.c_cflag |= PARENB | PARODD;
            break;
        case 2:
            t.c_cflag |= PARENB;
            break;
        case 3:
            t.c_cflag |= PARENB | PARODD | CMSPAR;
            break;
        case 4:
            t.c_cflag |= PARENB | CMSPAR;
            break;
        default:
            break;
        }
        if ((line.Flags & (ComFlagOutxCtsFlow | ComFlagOutxDsrFlow)) != 0) {
            t.c_cflag |= CRTSCTS;
        }
        t.c_ospeed = line.BaudRate;
        t.c_ispeed = line.BaudRate;
        // Non-blocking reads then answer EAGAIN on an empty queue and 0 only on hang-up.
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 0;
        if (::ioctl(Fd, TCSETS2, &t) != 0) {
            return false;
        }
        Rate = line.BaudRate;
        int raise = 0;
        if (((line.Flags >> ComFlagDtrControlShift) & 3U) == 1U) {
            raise |= TIOCM_DTR;
        }
        if (((line.Flags >> ComFlagRtsControlShift) & 3U) == 1U) {
            raise |= TIOCM_RTS;
        }
        return raise == 0 || ::ioctl(Fd, TIOCMBIS, &raise) == 0 || NothingToDo(errno);
    }

    bool ApplyTimeouts(const TComTimeoutValues& timeouts) override {
        if (Fd < 0) {
            return false;
        }
        Timeouts = timeouts;
        return true;
    }

    bool Escape(TComEscape code) override {
        if (Fd < 0) {
            return false;
        }
        int bits = 0;
        unsigned long request = TIOCMBIS;
        switch (code) {
        case TComEscape::SetDtr:
            bits = TIOCM_DTR;
            break;
        case TComEscape::ClrDtr:
            bits = TIOCM_DTR;
            request = TIOCMBIC;
            break;
        case TComEscape::SetRts:
            bits = TIOCM_RTS;
            break;
        case TComEscape::ClrRts:
            bits = TIOCM_RTS;
            request = TIOCMBIC;
            break;
        }
        return ::ioctl(Fd, request, &bits) == 0 || NothingToDo(errno);
    }

    bool Purge() override {
        return Fd >= 0 && (::ioctl(Fd, TCFLSH, TCIOFLUSH) == 0 || errno == EIO);
    }

    TComTransfer Write(const char* data, std::size_t size,
                       std::optional<std::uint64_t> budgetNs) override {
        TComTransfer result;
        if (Fd < 0) {
            return result;
        }
        const std::uint64_t start = MonotonicNs();
        auto left = [&]() -> std::optional<std::uint64_t> {
            if (!budgetNs) {
                return std::nullopt;
            }
            const std::uint64_t spent = MonotonicNs() - start;
            return spent < *budgetNs ? *budgetNs - spent : 0;
        };
        while (result.Count < size) {
            const ssize_t w = ::write(Fd, data + result.Count, size - result.Count);
            if (w > 0) {
                result.Count += static_cast<std::size_t>(w);
                continue;
            }
            if (w < 0 && errno == EINTR) {
                continue;
            }
            if (w < 0 && errno != EAGAIN) {
                return result;
            }
            const std::optional<std::uint64_t> rest = left();
            if (rest && *rest == 0) {
                result.Ok = true;
                return result;
            }
            const int ready = WaitFor(Fd, POLLOUT, rest);
            if (ready < 0 || (ready & (POLLERR | POLLNVAL)) != 0) {
                return result;
            }
        }
        result.Ok = true;
        // Wait for the bytes to leave, so the caller's next pause starts after the frame.
        for (;;) {
            int queued = 0;
            if (::ioctl(Fd, TIOCOUTQ, &queued) != 0 || queued <= 0) {
                return result;
            }
            const std::optional<std::uint64_t> rest = left();
            if (rest && *rest == 0) {
                result.Count -= std::min(result.Count, static_cast<std::size_t>(queued));
                return result;
            }
            std::uint64_t step =
                std::max<std::uint64_t>(LineTimeNs(static_cast<std::size_t>(queued), Rate), 200000);
            if (rest) {
                step = std::min(step, *rest);
            }
            Pause(step);
        }
    }

    TComTransfer Read(char* data, std::size_t size) override {
        TComTransfer result;
        if (Fd < 0) {
            return result;
        }
        const bool atOnce = ReadReturnsAtOnce(Timeouts);
        TReadTimer timer(Timeouts, size, MonotonicNs());
        while (result.Count < size) {
            // Never more than asked: what is not read stays queued for the next read.
            const ssize_t r = ::read(Fd, data + result.Count, size - result.Count);
            if (r > 0) {
                result.Count += static_cast<std::size_t>(r);
                timer.BytesArrived(MonotonicNs());
                continue;
            }
            if (r < 0 && errno == EINTR) {
                continue;
            }
            if (r == 0 || errno != EAGAIN) {
                return result; // hang-up or a device gone away
            }
            if (atOnce) {
                break;
            }
            const std::optional<std::uint64_t> rest = timer.Remaining(MonotonicNs());
            if (rest && *rest == 0) {
                break;
            }
            const int ready = WaitFor(Fd, POLLIN, rest);
            if (ready < 0 || (ready & POLLNVAL) != 0) {
                return result;
            }
        }
        result.Ok = true;
        return result;
    }

    bool InQueueCount(std::uint32_t& count) override {
        int queued = 0;
        if (Fd < 0 || ::ioctl(Fd, FIONREAD, &queued) != 0) {
            return false;
        }
        count = static_cast<std::uint32_t>(std::max(queued, 0));
        return true;
    }

    bool ModemStatus(std::uint32_t& status) override {
        if (Fd < 0) {
            return false;
        }
        int lines = 0;
        if (::ioctl(Fd, TIOCMGET, &lines) != 0) {
            if (errno != ENOTTY && errno != EINVAL) {
                return false;
            }
            lines = 0; // a pseudo-terminal has no modem lines
        }
        status = 0;
        if ((lines & TIOCM_CTS) != 0) {
            status |= ComModemCts;
        }
        if ((lines & TIOCM_DSR) != 0) {
            status |= ComModemDsr;
        }
        if ((lines & TIOCM_RI) != 0) {
            status |= ComModemRing;
        }
        if ((lines & TIOCM_CD) != 0) {
            status |= ComModemRlsd;
        }
        return true;
    }

private:
    static TComOpenResult ClassifyOpenError(int err) {
        switch (err) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
        case ENOTDIR:
            return TComOpenResult::NotFound;
        case EACCES:
        case EPERM:
        case EBUSY:
            return TComOpenResult::Denied;
        default:
            return TComOpenResult::Other;
        }
    }

    int Fd = -1;
    std::uint32_t Rate = 9600;
    TComTimeoutValues Timeouts;
};

} // namespace

std::unique_ptr<TComOs> CreatePlatformComOs() {
    return std::make_unique<TComOsPosix>();
}
