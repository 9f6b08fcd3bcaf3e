// The system's font configuration, loaded on a thread of its own while the toolkit starts.
//
// Reading the font configuration costs several milliseconds that the first text laid out
// would otherwise wait for; connecting to the display takes at least as long, so on a second
// core the two overlap.  Where the toolkit reads the fonts itself there is nothing to load.
#pragma once

#include <thread>

namespace Platform {

class TFontPreload {
public:
    // Starts loading; if no thread can be started, the toolkit loads the fonts as usual.
    TFontPreload();
    ~TFontPreload() { Wait(); }
    TFontPreload(const TFontPreload&) = delete;
    TFontPreload& operator=(const TFontPreload&) = delete;

    // Returns once the configuration is loaded; call it before the first window is made.
    void Wait();

private:
    std::thread Loader;
};

} // namespace Platform
