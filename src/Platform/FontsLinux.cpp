// Linux: the toolkit finds its fonts through fontconfig, whose configuration is loaded once
// per process and shared by every thread.
#include "Fonts.h"

#include <fontconfig/fontconfig.h>
#include <langinfo.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <system_error>

namespace Platform {

void ApplyEnvironmentLocale() {
    std::setlocale(LC_ALL, "");
}

bool ToolkitKeepsEnvironment(const char* desktopStartupId, const char* activationToken,
                             const char* codeset) {
    // The X11 and Wayland platform plugins take the start-up notification out of the
    // environment (unsetenv) while the display connects.
    auto set = [](const char* value) { return value != nullptr && *value != '\0'; };
    if (set(desktopStartupId) || set(activationToken)) {
        return false;
    }
    // Newer toolkits switch a locale whose character set is not UTF-8 to a UTF-8 one.
    return codeset != nullptr &&
           (strcasecmp(codeset, "UTF-8") == 0 || strcasecmp(codeset, "utf8") == 0);
}

TFontPreload::TFontPreload() {
    if (!ToolkitKeepsEnvironment(std::getenv("DESKTOP_STARTUP_ID"),
                                 std::getenv("XDG_ACTIVATION_TOKEN"), nl_langinfo(CODESET))) {
        return;
    }
    try {
        Loader = std::thread([] { FcInit(); });
    } catch (const std::system_error&) {
        // No thread: the fonts load on first use instead.
    }
}

void TFontPreload::Wait() {
    if (Loader.joinable()) {
        Loader.join();
        Joined = true;
    }
}

} // namespace Platform
