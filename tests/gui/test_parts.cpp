// The skin store and key translation.
#include <QKeyEvent>

#include <gtest/gtest.h>

#include "KeyPreview.h"
#include "SkinManager.h"

namespace {

TEST(Skin, BuiltInSkinInflatesWithEveryLook) {
    EXPECT_EQ(TSkinManager::SkinNames(), std::vector<std::string>{"WEB2 (internal)"});
    const std::string sheet = TSkinManager::SkinStyleSheet("WEB2 (internal)");
    for (const char* look : {"\"BAR\"", "\"COMBOBOX\"", "\"BUTTON_HUGE\"", "\"DIALOG\""}) {
        EXPECT_NE(sheet.find(look), std::string::npos) << look;
    }
    EXPECT_TRUE(TSkinManager::SkinStyleSheet("WEB2").empty());
}

TEST(Keys, VirtualKeyCodes) {
    struct TCase {
        int Key;
        int VirtualKey;
    };
    for (const TCase c : {TCase{Qt::Key_F1, 112}, TCase{Qt::Key_Delete, 46}, TCase{Qt::Key_E, 69},
                          TCase{Qt::Key_R, 82}, TCase{Qt::Key_L, 76}, TCase{Qt::Key_Escape, 27},
                          TCase{0x041A, 0} /* Cyrillic KA, no scan code offscreen */}) {
        const QKeyEvent event(QEvent::KeyPress, c.Key, Qt::ControlModifier);
        EXPECT_EQ(VirtualKeyOf(event), c.VirtualKey) << c.Key;
    }
}

} // namespace
