// A monotonic millisecond clock that is cheap enough to read millions of times.
#pragma once

#include <cstdint>

namespace Platform {

// Milliseconds from an arbitrary start; resolution of a few milliseconds at worst.
std::int64_t CoarseMilliseconds();

} // namespace Platform
