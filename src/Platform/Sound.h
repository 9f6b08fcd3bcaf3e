// The system's sounds: the desktop's event sounds and plain tones.
//
// Both calls are safe on a machine without audio: they play nothing and never fail.
#pragma once

namespace Platform {

// Plays the desktop's sound for a MessageBeep type (16 stop, 32 question, 48 exclamation,
// 64 asterisk; anything else plays the default sound) and returns at once.
void MessageBeep(unsigned type);

// Plays a tone and returns when it has finished: the call takes at least `milliseconds`,
// also when nothing can be played.
void Beep(unsigned frequency, unsigned milliseconds);

} // namespace Platform
