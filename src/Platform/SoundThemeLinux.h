// The names the Linux event sounds are looked up by in the desktop's sound theme.
#pragma once

#include <vector>

namespace Platform {

// For a MessageBeep type, the freedesktop sound names to try, best first: a theme need not
// hold every name, and the next one is played when it lacks one.
std::vector<const char*> EventSoundNames(unsigned type);

} // namespace Platform
