// Windows: the system's own message beeps and tones.
#include "SoundWindows.h"

#include <cmath>

#include "Sound.h"

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace Platform {

namespace {

// The performance counter in milliseconds: the tick count moves in steps of 10 to 16 ms,
// too coarse to tell whether a tone has had its length.
double CounterMilliseconds() {
    static const double PerMillisecond = [] {
        LARGE_INTEGER frequency;
        ::QueryPerformanceFrequency(&frequency);
        return static_cast<double>(frequency.QuadPart) / 1000.0;
    }();
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / PerMillisecond;
}

} // namespace

void MessageBeep(unsigned type) {
    ::MessageBeep(type);
}

void WaitPrecisely(double milliseconds) {
    const double end = CounterMilliseconds() + milliseconds;
    HANDLE timer = ::CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                            TIMER_ALL_ACCESS);
    // A timer may wake a little early: wait again for what is left.
    for (double left = milliseconds; left > 0; left = end - CounterMilliseconds()) {
        LARGE_INTEGER due;
        due.QuadPart = -static_cast<LONGLONG>(std::ceil(left * 10'000.0)); // 100 ns, relative
        if (timer == nullptr || !::SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE) ||
            ::WaitForSingleObject(timer, INFINITE) != WAIT_OBJECT_0) {
            ::Sleep(static_cast<DWORD>(std::ceil(left)));
        }
    }
    if (timer != nullptr) {
        ::CloseHandle(timer);
    }
}

void PlayTone(unsigned frequency, unsigned milliseconds, TSystemBeep beep, TToneWait wait) {
    const double start = CounterMilliseconds();
    // Beep refuses frequencies below 37 Hz.
    if (frequency >= 37) {
        beep(frequency, milliseconds);
    }
    const double left = milliseconds - (CounterMilliseconds() - start);
    if (left > 0) {
        wait(left);
    }
}

void Beep(unsigned frequency, unsigned milliseconds) {
    PlayTone(frequency, milliseconds, ::Beep, WaitPrecisely);
}

} // namespace Platform
