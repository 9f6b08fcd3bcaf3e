// termios2 carries the exact rate, also for BOTHER; its header clashes with <termios.h>,
// so this file includes nothing else.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include "LineSpeed.h"

long ReadLineSpeed(int fd) {
    struct termios2 settings {};
    if (ioctl(fd, TCGETS2, &settings) != 0) {
        return -1;
    }
    return static_cast<long>(settings.c_ospeed);
}
