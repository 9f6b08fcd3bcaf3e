// Windows: the tick count is read from shared memory without a kernel call.
#include "Clock.h"

#include <windows.h>

namespace Platform {

std::int64_t CoarseMilliseconds() {
    return static_cast<std::int64_t>(::GetTickCount64());
}

} // namespace Platform
