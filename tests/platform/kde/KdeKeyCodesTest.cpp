#include "platform/kde/KdeKeyCodes.h"
#include "core/shortcuts/KeyCombo.h"
#include "core/shortcuts/Keysyms.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {
constexpr quint32 kCtrl = KeyCombo::Ctrl, kShift = KeyCombo::Shift, kAlt = KeyCombo::Alt,
                  kSuper = KeyCombo::Super;
} // namespace

// Our combos and the Qt key codes KDE's shortcut service keeps, both ways,
// for the keyboard layouts named.
TEST(KdeKeyCodes, ConvertsBothWaysAsKWinMatchesKeys) {
    struct Case {
        const char* name;
        const char* layout;
        KdeKeyCodes::Combo combo;
        int code;
    };
    const Case cases[] = {
        {"letter", "us", {'v', kCtrl | kAlt}, (Qt::CTRL | Qt::ALT | Qt::Key_V).toCombined()},
        {"letter with Shift keeps it",
         "us",
         {'w', kShift | kSuper},
         (Qt::SHIFT | Qt::META | Qt::Key_W).toCombined()},
        {"digit", "us", {'0', kAlt | kSuper}, (Qt::ALT | Qt::META | Qt::Key_0).toCombined()},
        // KWin drops a Shift that picked the symbol: Shift+1 arrives as "!".
        {"digit with Shift", "us", {'1', kCtrl | kShift}, (Qt::CTRL | Qt::Key_Exclam).toCombined()},
        {"digit with Shift, German",
         "de",
         {'7', kCtrl | kShift},
         (Qt::CTRL | Qt::Key_Slash).toCombined()},
        {"Latin-1 letter", "de", {0xe4, kCtrl}, (Qt::CTRL | Qt::Key_Adiaeresis).toCombined()},
        {"function key", "us", {Keysym::F1 + 4, 0}, Qt::Key_F5},
        {"keypad digit",
         "us",
         {Keysym::Kp0 + 3, kCtrl},
         int(Qt::CTRL) | int(Qt::KeypadModifier) | int(Qt::Key_3)},
        {"named key", "us", {Keysym::Return, kAlt}, (Qt::ALT | Qt::Key_Return).toCombined()},
        {"space", "us", {Keysym::Space, kCtrl}, (Qt::CTRL | Qt::Key_Space).toCombined()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const KdeKeyCodes keys(QString::fromLatin1(c.layout));
        EXPECT_EQ(keys.toQt(c.combo.first, c.combo.second), c.code);
        EXPECT_EQ(keys.fromQt(c.code), c.combo);
    }
}

TEST(KdeKeyCodes, KeysWithoutACounterpartAreRefused) {
    const KdeKeyCodes keys(u"us"_s);
    EXPECT_EQ(keys.toQt(0x1008ff13, kCtrl), 0); // XF86AudioRaiseVolume
    EXPECT_EQ(keys.fromQt((Qt::CTRL | Qt::Key_VolumeUp).toCombined()), std::nullopt);
    EXPECT_EQ(keys.fromQt((Qt::CTRL | Qt::Key_Control).toCombined()), std::nullopt);
    // Shift+Tab as Qt names it.
    EXPECT_EQ(keys.fromQt((Qt::ALT | Qt::Key_Backtab).toCombined()),
              (KdeKeyCodes::Combo{Keysym::Tab, kAlt | kShift}));
}
