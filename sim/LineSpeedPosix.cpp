// Systems whose speed_t is the rate itself (the BSDs, macOS).
#include "LineSpeed.h"

#include <termios.h>

long ReadLineSpeed(int fd) {
    termios settings{};
    if (tcgetattr(fd, &settings) != 0) {
        return -1;
    }
    return static_cast<long>(cfgetospeed(&settings));
}
