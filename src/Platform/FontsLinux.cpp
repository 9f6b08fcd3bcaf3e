// Linux: the toolkit finds its fonts through fontconfig, whose configuration is loaded once
// per process and shared by every thread.
#include "Fonts.h"

#include <fontconfig/fontconfig.h>

#include <system_error>

namespace Platform {

TFontPreload::TFontPreload() {
    try {
        Loader = std::thread([] { FcInit(); });
    } catch (const std::system_error&) {
        // No thread: the fonts load on first use instead.
    }
}

void TFontPreload::Wait() {
    if (Loader.joinable()) {
        Loader.join();
    }
}

} // namespace Platform
