#include "Termios2Probe.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

bool ProbeTermios(int fd, TTermiosProbe& out) {
    termios2 t{};
    if (::ioctl(fd, TCGETS2, &t) != 0) {
        return false;
    }
    out.IFlag = t.c_iflag;
    out.OFlag = t.c_oflag;
    out.CFlag = t.c_cflag;
    out.LFlag = t.c_lflag;
    out.OSpeed = t.c_ospeed;
    out.ISpeed = t.c_ispeed;
    return true;
}
