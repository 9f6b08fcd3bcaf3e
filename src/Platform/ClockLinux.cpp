// Linux: the coarse monotonic clock is read from the vDSO without a system call.
#include "Clock.h"

#include <time.h>

namespace Platform {

std::int64_t CoarseMilliseconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

} // namespace Platform
