// The Linux layer of the serial component: termios2 for any bit rate, flock and TIOCEXCL
// for exclusive use, non-blocking descriptors with ppoll for the time-out rules, and an
// epoll-based event wait that reproduces the Win32 line events from what the kernel offers.
//
// <asm/termbits.h> (struct termios2, BOTHER) clashes with <termios.h>, so this file uses
// the kernel's definitions only and never includes <termios.h>.
#include <asm/termbits.h>
#include <cerrno>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <ctime>
#include <mutex>

#include "ComLowLatency.h"
#include "ComOs.h"
#include "ComTiming.h"
#include "PortHoldersLinux.h"

namespace {

timespec ToTimespec(std::uint64_t ns) {
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(ns / 1000000000ULL);
    ts.tv_nsec = static_cast<long>(ns % 1000000000ULL);
    return ts;
}

// Waits until `events` are ready on fd or `timeoutNs` (empty: no limit) has passed.
// Returns the ready events, 0 on time-out, -1 on failure; interrupted waits are resumed
// until the same deadline.  With a timer descriptor the deadline is kept to the
// microsecond: the timeout of a plain poll may end up to the thread's timer slack late
// (50 us by default), which every reply read would add to its quiet interval.
// Arms the timer descriptor to expire once, at a point of the monotonic clock.
bool ArmTimer(int timerFd, std::uint64_t deadlineNs) {
    itimerspec at{};
    at.it_value = ToTimespec(deadlineNs);
    return ::timerfd_settime(timerFd, TFD_TIMER_ABSTIME, &at, nullptr) == 0;
}

int WaitFor(int fd, short events, std::optional<std::uint64_t> timeoutNs, int timerFd) {
    const std::uint64_t start = MonotonicNs();
    const bool timed = timeoutNs && *timeoutNs > 0 && timerFd >= 0;
    if (timed && !ArmTimer(timerFd, start + *timeoutNs)) {
        return -1;
    }
    for (;;) {
        pollfd p[2] = {{fd, events, 0}, {timerFd, POLLIN, 0}};
        timespec ts{};
        const timespec* limit = nullptr;
        if (timeoutNs && !timed) {
            const std::uint64_t spent = MonotonicNs() - start;
            ts = ToTimespec(spent < *timeoutNs ? *timeoutNs - spent : 0);
            limit = &ts;
        }
        const int r = ppoll(p, timed ? 2 : 1, limit, nullptr);
        if (r > 0 && p[0].revents != 0) {
            return p[0].revents;
        }
        if (r >= 0) {
            return 0; // the time is up; the timer's next setting clears its count
        }
        if (errno != EINTR) {
            return -1;
        }
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

// What the device layer and its event wait share while the port is open.
struct TEventShared {
    std::atomic<std::uint32_t> Mask{0};
    std::atomic<std::int32_t> InBufSize{2048};
    std::atomic<bool> Written{false}; // a write was handed to the driver
    int WakeFd = -1;                  // eventfd: Written was set, or the mask changed
};

bool ReadCounters(int fd, serial_icounter_struct& c) {
    return ::ioctl(fd, TIOCGICOUNT, &c) == 0;
}

// The event wait over epoll.  Sources per event:
//   EV_RXCHAR    an edge-triggered EPOLLIN on the device: the tty wakes its readers once per
//                batch of received bytes, so bytes nobody has read yet do not fire again;
//                reported only while FIONREAD shows bytes (nothing is read here);
//   EV_RX80FULL  the input queue (FIONREAD) passing 80 % of InBufSize on such an edge;
//   EV_TXEMPTY   after each write the output queue (TIOCOUTQ) is polled every 1 ms until
//                empty;
//   EV_CTS, EV_DSR, EV_RLSD, EV_RING, EV_ERR
//                the driver's interrupt counters (TIOCGICOUNT: cts, dsr, dcd, rng; frame,
//                parity, overrun), sampled every 10 ms, only when the driver keeps them.
// TIOCMIWAIT would block in the kernel where no stop signal reaches it, so the counters are
// sampled instead; drivers without them (a pseudo-terminal) wait without any time-out.
class TComEventWaitPosix final : public TComEventWait {
public:
    TComEventWaitPosix(int fd, TEventShared& shared) : Fd(fd), Shared(shared) {}
    ~TComEventWaitPosix() override {
        if (Epoll >= 0) {
            ::close(Epoll);
        }
        if (StopFd >= 0) {
            ::close(StopFd);
        }
    }
    TComEventWaitPosix(const TComEventWaitPosix&) = delete;
    TComEventWaitPosix& operator=(const TComEventWaitPosix&) = delete;

    bool Create() {
        StopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        Epoll = ::epoll_create1(EPOLL_CLOEXEC);
        if (StopFd < 0 || Epoll < 0 || !Watch(StopFd, EPOLLIN) || !Watch(Fd, EPOLLIN | EPOLLET) ||
            (Shared.WakeFd >= 0 && !Watch(Shared.WakeFd, EPOLLIN))) {
            return false;
        }
        HasCounters = ReadCounters(Fd, Counters);
        int queued = 0;
        if (::ioctl(Fd, FIONREAD, &queued) == 0) {
            LastInQueue = queued;
        }
        return true;
    }

    TComWaitResult Wait(std::uint32_t& occurred) override {
        occurred = 0;
        if (Gone) {
            return TComWaitResult::Failed;
        }
        for (;;) {
            int timeoutMs = -1;
            if (TxWatch) {
                timeoutMs = 1;
            } else if (HasCounters) {
                timeoutMs = 10;
            }
            epoll_event ready[3];
            const int n = ::epoll_wait(Epoll, ready, 3, timeoutMs);
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return TComWaitResult::Failed;
            }
            std::uint32_t found = 0;
            bool woken = false;
            for (int i = 0; i < n; ++i) {
                const int fd = ready[i].data.fd;
                if (fd == StopFd) {
                    return TComWaitResult::Stopped;
                }
                if (fd == Shared.WakeFd) {
                    eventfd_t ignored = 0;
                    ::eventfd_read(Shared.WakeFd, &ignored);
                    if (Shared.Written.exchange(false)) {
                        TxWatch = true;
                    }
                    woken = true;
                    continue;
                }
                if ((ready[i].events & (EPOLLHUP | EPOLLERR)) != 0) {
                    Gone = true; // unplugged, or the other end of a pty closed
                    return TComWaitResult::Failed;
                }
                if ((ready[i].events & EPOLLIN) != 0 && !InputArrived(found)) {
                    Gone = true;
                    return TComWaitResult::Failed;
                }
            }
            if (TxWatch) {
                int queued = 0;
                if (::ioctl(Fd, TIOCOUTQ, &queued) != 0 || queued <= 0) {
                    TxWatch = false;
                    found |= ComEvTxEmpty;
                }
            }
            if (HasCounters && !CountersChanged(found)) {
                Gone = true;
                return TComWaitResult::Failed;
            }
            const std::uint32_t mask = Shared.Mask.load();
            if (mask == 0 && woken) {
                return TComWaitResult::Events; // the mask was cleared: the wait ends empty
            }
            found &= mask;
            if (found != 0) {
                occurred = found;
                return TComWaitResult::Events;
            }
        }
    }

    void Stop() override { ::eventfd_write(StopFd, 1); }

    bool Pause(std::uint32_t ms) override {
        pollfd p{StopFd, POLLIN, 0};
        const std::uint64_t end = MonotonicNs() + std::uint64_t{ms} * 1000000ULL;
        for (;;) {
            const std::uint64_t now = MonotonicNs();
            const int left = now < end ? static_cast<int>((end - now + 999999ULL) / 1000000ULL) : 0;
            const int r = ::poll(&p, 1, left);
            if (r > 0) {
                return true;
            }
            if (r == 0 || errno != EINTR) {
                return false;
            }
        }
    }

private:
    bool Watch(int fd, std::uint32_t events) {
        epoll_event e{};
        e.events = events;
        e.data.fd = fd;
        return ::epoll_ctl(Epoll, EPOLL_CTL_ADD, fd, &e) == 0;
    }

    bool InputArrived(std::uint32_t& found) {
        int queued = 0;
        if (::ioctl(Fd, FIONREAD, &queued) != 0) {
            return false;
        }
        if (queued > 0) {
            found |= ComEvRxChar;
        }
        std::int32_t size = Shared.InBufSize.load();
        if (size <= 0) {
            size = 4096; // the kernel's own queue
        }
        const std::int64_t threshold = std::int64_t{size} * 4 / 5;
        if (queued >= threshold && LastInQueue < threshold) {
            found |= ComEvRx80Full;
        }
        LastInQueue = queued;
        return true;
    }

    bool CountersChanged(std::uint32_t& found) {
        serial_icounter_struct now{};
        if (!ReadCounters(Fd, now)) {
            return errno != EIO && errno != ENODEV;
        }
        if (now.cts != Counters.cts) {
            found |= ComEvCts;
        }
        if (now.dsr != Counters.dsr) {
            found |= ComEvDsr;
        }
        if (now.dcd != Counters.dcd) {
            found |= ComEvRlsd;
        }
        if (now.rng != Counters.rng) {
            found |= ComEvRing;
        }
        if (now.frame != Counters.frame || now.parity != Counters.parity ||
            now.overrun != Counters.overrun) {
            found |= ComEvErr;
        }
        Counters = now;
        return true;
    }

    int Fd;
    TEventShared& Shared;
    int Epoll = -1;
    int StopFd = -1;
    bool HasCounters = false;
    bool TxWatch = false;
    bool Gone = false;
    std::int64_t LastInQueue = 0;
    serial_icounter_struct Counters{};
};

} // namespace

int SystemSerialIoctl(int fd, unsigned long request, serial_struct* settings) {
    int result = 0;
    do {
        result = ::ioctl(fd, request, settings);
    } while (result != 0 && errno == EINTR);
    return result;
}

TLowLatencyState RaiseLowLatency(int fd, TSerialIoctl io) {
    serial_struct settings{};
    if (io(fd, TIOCGSERIAL, &settings) != 0 || (settings.flags & ASYNC_LOW_LATENCY) != 0) {
        return {};
    }
    settings.flags |= ASYNC_LOW_LATENCY;
    return {io(fd, TIOCSSERIAL, &settings) == 0};
}

void RestoreLowLatency(int fd, const TLowLatencyState& state, TSerialIoctl io) {
    serial_struct settings{};
    if (!state.Raised || io(fd, TIOCGSERIAL, &settings) != 0) {
        return;
    }
    settings.flags &= ~ASYNC_LOW_LATENCY;
    io(fd, TIOCSSERIAL, &settings);
}

namespace {

class TComOsPosix final : public TComOs {
public:
    TComOsPosix(TSerialIoctl serialIoctl, TPortPlaces places)
        : SerialIoctl(serialIoctl), Places(std::move(places)) {}
    ~TComOsPosix() override { CloseDevice(); }

    TComOpenResult OpenDevice(const std::string& port) override {
        CloseDevice();
        Holders.clear();
        if (port.empty()) {
            return TComOpenResult::NotFound; // no port chosen: none to open
        }
        const std::string path = !port.empty() && port[0] == '/' ? port : "/dev/" + port;
        int fd = -1;
        do {
            fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0) {
            const int err = errno;
            if (err == EBUSY) { // another program set TIOCEXCL
                Holders = DescribeHolders(path);
            }
            return ClassifyOpenError(err);
        }
        // flock keeps out every other open, root's included; TIOCEXCL adds the kernel's own
        // refusal for programs that do not lock.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int err = errno;
            ::close(fd);
            if (err != EWOULDBLOCK) {
                return TComOpenResult::Other;
            }
            Holders = DescribeHolders(path);
            return TComOpenResult::Denied;
        }
        if (::ioctl(fd, TIOCEXCL) != 0) {
            ::close(fd);
            return TComOpenResult::Other; // no terminal device
        }
        // Most terminal programs take neither lock: a device someone else has open, or
        // whose UUCP lock file names a live process, is refused as Windows refuses a port in
        // use, before anything is sent.  A pseudo-terminal is kept open by the program that
        // made it (the simulator, socat), so there only the locks count.
        const bool pty = IsPseudoTerminalDevice(path);
        const std::vector<TPortHolder> holders =
            FindPortHolders(path, pty ? TPortHoldScan::Locks : TPortHoldScan::Everything, Places);
        if (!holders.empty()) {
            ::ioctl(fd, TIOCNXCL);
            ::close(fd);
            Holders = HoldersText(holders);
            return TComOpenResult::Denied;
        }
        const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        const int timer = ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
        if (wake < 0 || timer < 0) {
            if (wake >= 0) {
                ::close(wake);
            }
            if (timer >= 0) {
                ::close(timer);
            }
            ::ioctl(fd, TIOCNXCL);
            ::close(fd);
            return TComOpenResult::Other;
        }
        Fd = fd;
        LowLatency = RaiseLowLatency(fd, SerialIoctl);
        TimerFd = timer;
        Shared.WakeFd = wake;
        Shared.Mask = 0;
        {
            std::lock_guard<std::mutex> lock(ErrorsLock);
            ErrorCounters = {};
            ReadCounters(Fd, ErrorCounters);
        }
        return TComOpenResult::Ok;
    }

    std::string HolderText() const override { return Holders; }

    void CloseDevice() override {
        if (Fd < 0) {
            return;
        }
        RestoreLowLatency(Fd, LowLatency, SerialIoctl);
        LowLatency = {};
        // The exclusive mark belongs to the tty, not to this descriptor: lift it so the
        // next user is not refused while someone else still holds the device open.
        ::ioctl(Fd, TIOCNXCL);
        ::close(Fd);
        Fd = -1;
        ::close(Shared.WakeFd);
        Shared.WakeFd = -1;
        ::close(TimerFd);
        TimerFd = -1;
    }

    // The line-time wait of a write, to the microsecond like the transfers' waits.
    void SleepNs(std::uint64_t ns) override {
        if (TimerFd < 0 || ns == 0 || !ArmTimer(TimerFd, MonotonicNs() + ns)) {
            TComOs::SleepNs(ns);
            return;
        }
        pollfd p{TimerFd, POLLIN, 0};
        while (ppoll(&p, 1, nullptr, nullptr) < 0 && errno == EINTR) {
        }
    }

    bool SetupBuffers(std::int32_t inSize, std::int32_t) override {
        // The kernel sizes its own queues; the input size only sets the 80 % mark of the
        // event wait.
        Shared.InBufSize = inSize;
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
        CharNs =
            LineTimeNs(1, line.BaudRate, CharHalfBits(line.ByteSize, line.Parity, line.StopBits));
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
                Written();
                return result;
            }
            const int ready = WaitFor(Fd, POLLOUT, rest, TimerFd);
            if (ready < 0 || (ready & (POLLERR | POLLNVAL)) != 0) {
                return result;
            }
        }
        result.Ok = true;
        Written();
        return result;
    }

    TComTransfer Read(char* data, std::size_t size) override {
        TComTransfer result;
        if (Fd < 0) {
            return result;
        }
        const bool atOnce = ReadReturnsAtOnce(Timeouts);
        TReadTimer timer(Timeouts, size, MonotonicNs(), CharNs);
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
            const int ready = WaitFor(Fd, POLLIN, rest, TimerFd);
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

    bool OutQueueCount(std::uint32_t& count) override {
        int queued = 0;
        if (Fd < 0 || ::ioctl(Fd, TIOCOUTQ, &queued) != 0) {
            return false;
        }
        count = static_cast<std::uint32_t>(std::max(queued, 0));
        return true;
    }

    bool ClearErrors(std::uint32_t& errors) override {
        errors = 0;
        if (Fd < 0) {
            return false;
        }
        serial_icounter_struct now{};
        if (!ReadCounters(Fd, now)) {
            // No counters (a pseudo-terminal): no line errors can be seen.
            return errno == ENOTTY || errno == EINVAL;
        }
        std::lock_guard<std::mutex> lock(ErrorsLock);
        if (now.frame != ErrorCounters.frame) {
            errors |= ComCeFrame;
        }
        if (now.parity != ErrorCounters.parity) {
            errors |= ComCeRxParity;
        }
        if (now.overrun != ErrorCounters.overrun) {
            errors |= ComCeOverrun;
        }
        if (now.buf_overrun != ErrorCounters.buf_overrun) {
            errors |= ComCeRxOver;
        }
        if (now.brk != ErrorCounters.brk) {
            errors |= ComCeBreak;
        }
        ErrorCounters = now;
        return true;
    }

    bool SetEventMask(std::uint32_t mask) override {
        if (Fd < 0) {
            return false;
        }
        Shared.Mask = mask;
        Wake();
        return true;
    }

    std::unique_ptr<TComEventWait> CreateEventWait() override {
        if (Fd < 0) {
            return nullptr;
        }
        auto wait = std::make_unique<TComEventWaitPosix>(Fd, Shared);
        return wait->Create() ? std::move(wait) : nullptr;
    }

    bool DiscardQueues() override {
        return Fd >= 0 && (::ioctl(Fd, TCFLSH, TCIOFLUSH) == 0 || errno == EIO);
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

    // Who holds a device that refused us: this program too, when another of its ports has
    // it.  On a pseudo-terminal the lock's holder is the one to name, not the maker who
    // keeps it open; failing a lock, every process is.
    std::string DescribeHolders(const std::string& path) const {
        std::vector<TPortHolder> holders;
        if (IsPseudoTerminalDevice(path)) {
            holders = FindPortHolders(path, TPortHoldScan::Locks, Places, 0);
        }
        if (holders.empty()) {
            holders = FindPortHolders(path, TPortHoldScan::Everything, Places, 0);
        }
        return HoldersText(holders);
    }

    void Wake() const {
        if (Shared.WakeFd >= 0) {
            ::eventfd_write(Shared.WakeFd, 1);
        }
    }
    void Written() {
        Shared.Written = true;
        Wake();
    }

    int Fd = -1;
    TSerialIoctl SerialIoctl;
    TPortPlaces Places;
    std::string Holders;         // who held the device when the last OpenDevice was refused
    TLowLatencyState LowLatency; // what Open changed in the driver's settings
    int TimerFd = -1;            // deadlines of the waits, while the device is open
    TComTimeoutValues Timeouts;
    std::uint64_t CharNs = 0; // one character's time on the line at the applied settings
    TEventShared Shared;
    std::mutex ErrorsLock;
    serial_icounter_struct ErrorCounters{};
};

} // namespace

std::unique_ptr<TComOs> CreatePosixComOs(TSerialIoctl serialIoctl, TPortPlaces places) {
    return std::make_unique<TComOsPosix>(serialIoctl, std::move(places));
}

std::unique_ptr<TComOs> CreatePlatformComOs() {
    return CreatePosixComOs(SystemSerialIoctl);
}
