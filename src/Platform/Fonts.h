// The system's font configuration, loaded on a thread of its own while the toolkit starts.
//
// Reading the font configuration costs several milliseconds that the first text laid out
// would otherwise wait for; connecting to the display takes at least as long, so on a second
// core the two overlap.  Where the toolkit reads the fonts itself there is nothing to load.
//
// The loader reads the environment and parses numbers in the C library's locale, and the C
// library allows neither beside a change of the locale or of the environment.  So the
// program sets the locale from the environment before the loader starts (the toolkit's own
// setlocale then changes nothing the loader reads), and the loader does not start when the
// toolkit is known to change the environment or the locale while it connects.
#pragma once

#include <thread>

namespace Platform {

// Sets the C library's locale from the environment, as the toolkit does when it starts;
// call it first in main, before any other thread exists.
void ApplyEnvironmentLocale();

// Linux: whether the toolkit's start leaves the environment and the locale as they are, given the
// start-up notification variables it takes out of the environment (null when unset) and the
// locale's character set (it switches a non-UTF-8 one to UTF-8).
bool ToolkitKeepsEnvironment(const char* desktopStartupId, const char* activationToken,
                             const char* codeset);

class TFontPreload {
public:
    // Starts loading when that is safe beside the toolkit's start (see above); otherwise, or
    // if no thread can be started, the toolkit loads the fonts as usual.
    TFontPreload();
    ~TFontPreload() { Wait(); }
    TFontPreload(const TFontPreload&) = delete;
    TFontPreload& operator=(const TFontPreload&) = delete;

    // Whether the early load was started.
    bool Started() const { return Loader.joinable() || Joined; }

    // Returns once the configuration is loaded; call it before the first window is made.
    void Wait();

private:
    std::thread Loader;
    bool Joined = false;
};

} // namespace Platform
