// Fake modem lines for pseudo-terminals, preloaded (LD_PRELOAD) into Wine by the Windows
// tests only.
//
// A pty has no modem lines: the kernel answers TIOCMGET / TIOCMSET / TIOCMBIS / TIOCMBIC
// with an error, so Wine fails EscapeCommFunction and GetCommModemStatus and ends every
// WaitCommEvent at once.  This library answers those requests on pty descriptors from one
// line state per process: DTR and RTS as the program last set them, and the input lines
// from the file named by TARVEX_FAKE_MODEM_LINES (a decimal TIOCM_* bit set, read at every
// request; CTS, DSR and carrier when the variable or the file is missing), so a test can
// change an input line.  TIOCMIWAIT waits until one of the asked lines changes.  A pty slave
// whose master has gone (a simulated unit that was pulled) fails them with EIO, as the
// driver of a removed USB adapter does.  Every other request, and every descriptor that is
// not a pty, goes to the real ioctl.
#include <dlfcn.h>
#include <errno.h>
#include <poll.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>

namespace {

using IoctlFn = int (*)(int, unsigned long, ...);

int OutputLines = TIOCM_DTR | TIOCM_RTS;

// Unix 98 pty slaves have majors 136 to 143; masters are 5:2 (/dev/ptmx) opened as 128+.
int IsPty(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) {
        return 0;
    }
    const unsigned int major = major(st.st_rdev);
    return (major >= 136 && major <= 143) || (major == 5 && minor(st.st_rdev) == 2);
}

int InputLines(void) {
    const char* path = getenv("TARVEX_FAKE_MODEM_LINES");
    int lines = TIOCM_CTS | TIOCM_DSR | TIOCM_CAR;
    if (path != nullptr) {
        FILE* file = fopen(path, "r");
        if (file != nullptr) {
            int value = 0;
            if (fscanf(file, "%d", &value) == 1) {
                lines = value & (TIOCM_CTS | TIOCM_DSR | TIOCM_CAR | TIOCM_RNG);
            }
            fclose(file);
        }
    }
    return lines;
}

// The other end of a pty slave has closed: the unit behind it was pulled.
bool HungUp(int fd) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, 0) > 0 && (p.revents & POLLHUP) != 0;
}

int WaitForChange(int mask) {
    const int before = InputLines() & mask;
    const timespec step = {0, 5000000};
    while ((InputLines() & mask) == before) {
        nanosleep(&step, nullptr);
    }
    return 0;
}

} // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept {
    static const auto real = reinterpret_cast<IoctlFn>(dlsym(RTLD_NEXT, "ioctl"));
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);

    switch (request) {
    case TIOCMGET:
    case TIOCMSET:
    case TIOCMBIS:
    case TIOCMBIC:
    case TIOCMIWAIT:
        if (IsPty(fd)) {
            break;
        }
        return real(fd, request, arg);
    default:
        return real(fd, request, arg);
    }
    if (HungUp(fd)) {
        errno = EIO;
        return -1;
    }
    const int outputs = TIOCM_DTR | TIOCM_RTS;
    switch (request) {
    case TIOCMGET:
        *static_cast<int*>(arg) = (OutputLines & outputs) | InputLines();
        return 0;
    case TIOCMSET:
        OutputLines = *static_cast<const int*>(arg) & outputs;
        return 0;
    case TIOCMBIS:
        OutputLines |= *static_cast<const int*>(arg) & outputs;
        return 0;
    case TIOCMBIC:
        OutputLines &= ~(*static_cast<const int*>(arg) & outputs);
        return 0;
    default: // TIOCMIWAIT: the argument is the mask itself
        return WaitForChange(static_cast<int>(reinterpret_cast<long>(arg)));
    }
}
