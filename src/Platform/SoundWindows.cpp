// Windows: the system's own message beeps and tones.
#include "Sound.h"

#include <windows.h>

namespace Platform {

void MessageBeep(unsigned type) {
    ::MessageBeep(type);
}

void Beep(unsigned frequency, unsigned milliseconds) {
    const ULONGLONG start = ::GetTickCount64();
    // Beep refuses frequencies below 37 Hz, fails without a sound device and, on some
    // systems, returns before the tone has ended; the caller still waits the tone's length.
    if (frequency >= 37) {
        ::Beep(frequency, milliseconds);
    }
    const ULONGLONG spent = ::GetTickCount64() - start;
    if (spent < milliseconds) {
        ::Sleep(static_cast<DWORD>(milliseconds - spent));
    }
}

} // namespace Platform
