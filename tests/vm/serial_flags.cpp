// Prints whether a serial device's driver has its low-latency flag set, as the kernel
// reports it (TIOCGSERIAL), for the guest of the real-driver test:
//   serial_flags /dev/ttyS1   ->   "low_latency 1"
// Opening the device while another program holds it changes none of its settings.
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: serial_flags DEVICE\n");
        return 2;
    }
    const int fd = ::open(argv[1], O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(stderr, "%s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    serial_struct info{};
    if (::ioctl(fd, TIOCGSERIAL, &info) != 0) {
        std::fprintf(stderr, "%s: TIOCGSERIAL: %s\n", argv[1], std::strerror(errno));
        ::close(fd);
        return 1;
    }
    std::printf("low_latency %d\n", (info.flags & ASYNC_LOW_LATENCY) != 0 ? 1 : 0);
    ::close(fd);
    return 0;
}
