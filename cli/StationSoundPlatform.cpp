// Built with the window: its sound layer plays the desktop's event sounds.
#include "StationSound.h"

#include "Sound.h"

void StationSound(unsigned type) {
    Platform::MessageBeep(type);
}
