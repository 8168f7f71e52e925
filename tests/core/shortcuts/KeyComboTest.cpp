#include "core/shortcuts/KeyCombo.h"
#include "support/QtPrinters.h"

#include <QKeyEvent>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {
constexpr quint32 Ctrl = KeyCombo::Ctrl;
constexpr quint32 Alt = KeyCombo::Alt;
constexpr quint32 Shift = KeyCombo::Shift;
constexpr quint32 Super = KeyCombo::Super;

std::string show(const std::optional<KeyCombo>& combo) {
    return combo ? combo->encode().toStdString() : "refused";
}
} // namespace

TEST(KeyCombo, EncodesAsTheSharedJsonForm) {
    EXPECT_EQ(KeyCombo::defaultOpenPanel().encode(),
              QByteArray(R"({"keyCode":118,"carbonModifiers":2304})"));
    EXPECT_EQ(KeyCombo::defaultOpenPanel().displayString(), u"Ctrl+Alt+V"_s);
    const KeyCombo large{0x1000430, Ctrl | Alt | Shift | Super};
    EXPECT_EQ(KeyCombo::decode(large.encode()), large);
}

TEST(KeyCombo, DecodesOnlyCompleteWellFormedValues) {
    struct Case {
        const char* json;
        std::optional<KeyCombo> expected;
    };
    const Case cases[] = {
        {R"({"keyCode":118,"carbonModifiers":2304})", KeyCombo{118, 2304}},
        {R"({"carbonModifiers":2304,"keyCode":118})", KeyCombo{118, 2304}},
        {R"({"keyCode":118,"carbonModifiers":2304,"extra":true})", KeyCombo{118, 2304}},
        {R"({"keyCode":65474,"carbonModifiers":0})", KeyCombo{0xffc2, 0}},
        {R"({"keyCode":118.0,"carbonModifiers":768})", KeyCombo{118, 768}},
        {R"({"keyCode":118})", std::nullopt},
        {R"({"carbonModifiers":2304})", std::nullopt},
        {R"({"keyCode":"118","carbonModifiers":2304})", std::nullopt},
        {R"({"keyCode":-1,"carbonModifiers":2304})", std::nullopt},
        {R"({"keyCode":118.5,"carbonModifiers":2304})", std::nullopt},
        {R"({"keyCode":4294967296,"carbonModifiers":2304})", std::nullopt},
        {R"({"keyCode":0,"carbonModifiers":2304})", std::nullopt},
        {R"({"keyCode":118,"carbonModifiers":2305})", std::nullopt},
        {R"({"keyCode":118,"carbonModifiers":null})", std::nullopt},
        {R"([118,2304])", std::nullopt},
        {R"({"keyCode":118,"carbonModifiers":2304)", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(KeyCombo::decode(QByteArray(c.json)), c.expected) << c.json;
}

TEST(KeyCombo, DisplaysModifiersInFixedOrderThenTheKey) {
    struct Case {
        quint32 keysym;
        quint32 modifiers;
        const char16_t* text;
    };
    const Case cases[] = {
        {0x76, Shift | Ctrl, u"Ctrl+Shift+V"},
        {0x61, Super | Shift | Alt | Ctrl, u"Ctrl+Alt+Shift+Super+A"},
        {0x31, Super | Ctrl, u"Ctrl+Super+1"},
        {0x30, Alt | Super, u"Alt+Super+0"},
        {0x41, Ctrl, u"Ctrl+A"},
        {0xffc2, 0, u"F5"},
        {0xffc2, Shift, u"Shift+F5"},
        {0xffc8, Alt, u"Alt+F11"},
        {0xffcc, 0, u"F15"},
        {0x20, Ctrl, u"Ctrl+Space"},
        {0xff0d, Alt, u"Alt+Return"},
        {0xff09, Alt, u"Alt+Tab"},
        {0xff08, Ctrl, u"Ctrl+Backspace"},
        {0xffff, Ctrl, u"Ctrl+Delete"},
        {0xff1b, Ctrl, u"Ctrl+Esc"},
        {0xff50, Ctrl, u"Ctrl+Home"},
        {0xff57, Ctrl, u"Ctrl+End"},
        {0xff55, Ctrl, u"Ctrl+PgUp"},
        {0xff56, Ctrl, u"Ctrl+PgDown"},
        {0xff51, Ctrl, u"Ctrl+←"},
        {0xff53, Ctrl, u"Ctrl+→"},
        {0xff52, Ctrl, u"Ctrl+↑"},
        {0xff54, Ctrl, u"Ctrl+↓"},
        {0x5c, Ctrl, u"Ctrl+\\"},
        {0x60, Ctrl, u"Ctrl+`"},
        {0x5b, Ctrl, u"Ctrl+["},
        {0x2d, Ctrl, u"Ctrl+-"},
        {0x27, Ctrl, u"Ctrl+'"},
        {0xfc, Ctrl, u"Ctrl+Ü"},
        {0x1000430, Ctrl, u"Ctrl+А"},      // Cyrillic a
        {0xffb1, Ctrl, u"Ctrl+Key 65457"}, // keypad 1 has no name of its own
        {0x1008ff11, 0, u"Key 269025041"}, // a media key
    };
    for (const Case& c : cases) {
        const KeyCombo combo{c.keysym, c.modifiers};
        EXPECT_EQ(combo.displayString(), QString::fromUtf16(c.text)) << c.keysym;
    }
    EXPECT_EQ(KeyCombo::modifierSymbols(0), QString());
}

TEST(KeyCombo, KeyPressesNeedCtrlAltOrSuperUnlessAFunctionKey) {
    struct Case {
        const char* name;
        int key;
        Qt::KeyboardModifiers modifiers;
        std::optional<KeyCombo> expected;
    };
    const Case cases[] = {
        {"letter alone", Qt::Key_V, Qt::NoModifier, std::nullopt},
        {"shift and letter", Qt::Key_V, Qt::ShiftModifier, std::nullopt},
        {"shift and space", Qt::Key_Space, Qt::ShiftModifier, std::nullopt},
        {"ctrl shift letter is lower-case", Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier,
         KeyCombo{0x76, Ctrl | Shift}},
        {"alt and any key", Qt::Key_Space, Qt::AltModifier, KeyCombo{0x20, Alt}},
        {"super and digit", Qt::Key_1, Qt::MetaModifier, KeyCombo{0x31, Super}},
        {"all four", Qt::Key_P,
         Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier | Qt::MetaModifier,
         KeyCombo{0x70, Ctrl | Alt | Shift | Super}},
        {"plain F5", Qt::Key_F5, Qt::NoModifier, KeyCombo{0xffc2, 0}},
        {"shift F5", Qt::Key_F5, Qt::ShiftModifier, KeyCombo{0xffc2, Shift}},
        {"plain F1", Qt::Key_F1, Qt::NoModifier, KeyCombo{0xffbe, 0}},
        {"plain F15", Qt::Key_F15, Qt::NoModifier, KeyCombo{0xffcc, 0}},
        {"plain F16", Qt::Key_F16, Qt::NoModifier, std::nullopt},
        {"ctrl F16", Qt::Key_F16, Qt::ControlModifier, KeyCombo{0xffcd, Ctrl}},
        {"a modifier key itself", Qt::Key_Control, Qt::ControlModifier, std::nullopt},
        {"super key itself", Qt::Key_Super_L, Qt::MetaModifier, std::nullopt},
        {"unknown key", Qt::Key_unknown, Qt::ControlModifier, std::nullopt},
        {"layout switch is no modifier", Qt::Key_V, Qt::GroupSwitchModifier, std::nullopt},
        {"keypad digit", Qt::Key_1, Qt::ControlModifier | Qt::KeypadModifier,
         KeyCombo{0xffb1, Ctrl}},
        {"keypad enter", Qt::Key_Enter, Qt::AltModifier | Qt::KeypadModifier,
         KeyCombo{0xff8d, Alt}},
        {"shift tab is tab", Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier,
         KeyCombo{0xff09, Ctrl | Shift}},
        {"latin-1 letter", Qt::Key_Udiaeresis, Qt::ControlModifier, KeyCombo{0xfc, Ctrl}},
        {"other letter", 0x0416 /* Cyrillic Zhe */, Qt::ControlModifier, KeyCombo{0x1000436, Ctrl}},
        {"arrow", Qt::Key_Left, Qt::ControlModifier, KeyCombo{0xff51, Ctrl}},
        {"escape", Qt::Key_Escape, Qt::AltModifier, KeyCombo{0xff1b, Alt}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(show(KeyCombo::fromKey(c.key, c.modifiers)), show(c.expected)) << c.name;

    const QKeyEvent event(QEvent::KeyPress, Qt::Key_V, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(KeyCombo::fromEvent(event), KeyCombo::defaultOpenPanel());

    // With Shift, the key is named as printed on it, as the keyboard says:
    // Ctrl+Shift+1 is the pinned-clip combo, not Ctrl+Shift+!.
    const auto keyboard = [](quint32 scanCode) -> quint32 { return scanCode == 10 ? 0x31 : 0; };
    const auto shifted = [](int key, quint32 scanCode, Qt::KeyboardModifiers modifiers) {
        return QKeyEvent(QEvent::KeyPress, key, modifiers, scanCode, 0, 0);
    };
    EXPECT_EQ(KeyCombo::fromEvent(
                  shifted(Qt::Key_Exclam, 10, Qt::ControlModifier | Qt::ShiftModifier), keyboard),
              (KeyCombo{KeyCombo::numberRow[0], Ctrl | Shift}));
    // Unknown to the keyboard, or no Shift: the key Qt reports.
    EXPECT_EQ(KeyCombo::fromEvent(
                  shifted(Qt::Key_Exclam, 99, Qt::ControlModifier | Qt::ShiftModifier), keyboard),
              (KeyCombo{0x21, Ctrl | Shift}));
    EXPECT_EQ(KeyCombo::fromEvent(shifted(Qt::Key_1, 10, Qt::ControlModifier), keyboard),
              (KeyCombo{KeyCombo::numberRow[0], Ctrl}));
}

TEST(KeyCombo, NumberRowRunsFromOneToZero) {
    QStringList labels;
    for (quint32 keysym : KeyCombo::numberRow)
        labels.append(KeyCombo{keysym, 0}.keyLabel());
    EXPECT_EQ(labels.join(u' '), u"1 2 3 4 5 6 7 8 9 0"_s);
}
