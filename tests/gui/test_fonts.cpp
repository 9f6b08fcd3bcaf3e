// The early font load beside the toolkit's start: it runs only where the toolkit leaves the
// environment and the locale alone while it connects.
#include <gtest/gtest.h>

#include <cstdlib>

#include "Fonts.h"

#ifndef _WIN32
namespace {

TEST(FontPreload, StartsOnlyWhereTheToolkitKeepsTheEnvironment) {
    struct TCase {
        const char* StartupId;
        const char* ActivationToken;
        const char* Codeset;
        bool Keeps;
    };
    for (const TCase c :
         {TCase{nullptr, nullptr, "UTF-8", true}, TCase{"", "", "utf8", true},
          TCase{"kwin-123_TIME456", nullptr, "UTF-8", false},
          TCase{nullptr, "token", "UTF-8", false}, TCase{nullptr, nullptr, "KOI8-U", false},
          TCase{nullptr, nullptr, "ANSI_X3.4-1968", false},
          TCase{nullptr, nullptr, nullptr, false}}) {
        EXPECT_EQ(Platform::ToolkitKeepsEnvironment(c.StartupId, c.ActivationToken, c.Codeset),
                  c.Keeps)
            << (c.StartupId ? c.StartupId : "-") << " "
            << (c.ActivationToken ? c.ActivationToken : "-") << " "
            << (c.Codeset ? c.Codeset : "-");
    }
}

TEST(FontPreload, NoEarlyLoadWhenTheToolkitWillTakeTheStartupId) {
    ASSERT_EQ(setenv("DESKTOP_STARTUP_ID", "bench-1_TIME0", 1), 0);
    {
        Platform::TFontPreload fonts;
        EXPECT_FALSE(fonts.Started());
        fonts.Wait();
    }
    unsetenv("DESKTOP_STARTUP_ID");
}

} // namespace
#endif
