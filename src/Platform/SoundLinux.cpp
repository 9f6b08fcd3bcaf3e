// Linux: event sounds through libcanberra (the freedesktop sound theme), tones through ALSA.
#include "Sound.h"
#include "SoundThemeLinux.h"

#include <alsa/asoundlib.h>
#include <canberra.h>

#include <chrono>
#include <cmath>
#include <mutex>
#include <thread>
#include <vector>

namespace Platform {

std::vector<const char*> EventSoundNames(unsigned type) {
    switch (type) {
    case 16:
        return {"dialog-error", "bell"};
    case 32:
        // The freedesktop theme that Debian and others install has no dialog-question.
        return {"dialog-question", "window-question", "dialog-information"};
    case 48:
        return {"dialog-warning", "bell"};
    case 64:
        return {"dialog-information", "bell"};
    default:
        return {"bell"};
    }
}

namespace {

// ALSA prints its own complaints to stderr when no card is present; silence on such
// machines is the expected behaviour, not an error worth a line in the terminal.
void QuietAlsaError(const char*, int, const char*, int, const char*, ...) {}

void QuietAlsa() {
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(QuietAlsaError); });
}

// One context for the program's life: creating it connects to the sound server, which is
// far too slow to do per beep.  Null when the machine has no usable sound system.
ca_context* SoundContext() {
    static ca_context* context = [] {
        QuietAlsa();
        ca_context* c = nullptr;
        if (ca_context_create(&c) != CA_SUCCESS) {
            return static_cast<ca_context*>(nullptr);
        }
        ca_context_change_props(c, CA_PROP_APPLICATION_NAME, "TARVEX-6 Bootloader", nullptr);
        if (ca_context_open(c) != CA_SUCCESS) {
            ca_context_destroy(c);
            return static_cast<ca_context*>(nullptr);
        }
        return c;
    }();
    return context;
}

constexpr unsigned kRate = 48000;

// A square wave at a quarter of full scale: loud enough to hear, not harsh.
std::vector<short> SquareWave(unsigned frequency, unsigned milliseconds) {
    const std::size_t frames = static_cast<std::size_t>(kRate) * milliseconds / 1000;
    std::vector<short> samples(frames);
    const double period = frequency ? static_cast<double>(kRate) / frequency : 0.0;
    for (std::size_t i = 0; i < frames; ++i) {
        const bool high = period > 0 && std::fmod(static_cast<double>(i), period) < period / 2;
        samples[i] = static_cast<short>(high ? 8000 : -8000);
    }
    return samples;
}

void PlayTone(unsigned frequency, unsigned milliseconds) {
    QuietAlsa();
    snd_pcm_t* pcm = nullptr;
    // Non-blocking open: a device held by another program must not hang the flasher.
    if (snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) {
        return;
    }
    snd_pcm_nonblock(pcm, 0);
    if (snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16, SND_PCM_ACCESS_RW_INTERLEAVED, 1, kRate, 1,
                           50000) < 0) {
        snd_pcm_close(pcm);
        return;
    }
    const std::vector<short> samples = SquareWave(frequency, milliseconds);
    std::size_t done = 0;
    while (done < samples.size()) {
        const snd_pcm_sframes_t n =
            snd_pcm_writei(pcm, samples.data() + done, samples.size() - done);
        if (n < 0) {
            if (snd_pcm_recover(pcm, static_cast<int>(n), 1) < 0) {
                break;
            }
            continue;
        }
        done += static_cast<std::size_t>(n);
    }
    snd_pcm_drain(pcm);
    snd_pcm_close(pcm);
}

} // namespace

void MessageBeep(unsigned type) {
    if (ca_context* c = SoundContext()) {
        // Asynchronous: canberra plays on its own thread; it looks the name up in the sound
        // theme before it returns, so a name the theme lacks is known at once.  Any other
        // failure is as good as silence.
        for (const char* name : EventSoundNames(type)) {
            if (ca_context_play(c, 0, CA_PROP_EVENT_ID, name, CA_PROP_EVENT_DESCRIPTION,
                                "TARVEX-6 Bootloader", nullptr) != CA_ERROR_NOTFOUND) {
                break;
            }
        }
    }
}

void Beep(unsigned frequency, unsigned milliseconds) {
    const auto start = std::chrono::steady_clock::now();
    PlayTone(frequency, milliseconds);
    // Callers rely on the duration (three tones make 600 ms), with or without a sound card.
    std::this_thread::sleep_until(start + std::chrono::milliseconds(milliseconds));
}

} // namespace Platform
