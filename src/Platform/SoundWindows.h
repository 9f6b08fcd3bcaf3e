// Windows: the tone's parts, apart so that tests can give them a Beep of their own.
#pragma once

#include <windows.h>

namespace Platform {

using TSystemBeep = BOOL(WINAPI*)(DWORD frequency, DWORD milliseconds);
using TToneWait = void (*)(double milliseconds);

// Plays a tone with `beep` (the system's Beep), timed on the performance counter: when
// `beep` returns before the tone's length is over (it does without a sound device, under
// Wine, and for frequencies it refuses), `wait` is given what is left of it; after a tone
// of full length nothing is added.
void PlayTone(unsigned frequency, unsigned milliseconds, TSystemBeep beep, TToneWait wait);

// Waits `milliseconds` to within a fraction of a millisecond: on a high-resolution waitable
// timer where the system has one (Windows 10 1803 on), else in Sleep's ticks.
void WaitPrecisely(double milliseconds);

} // namespace Platform
