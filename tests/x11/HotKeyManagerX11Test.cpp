#include "X11TestEnv.h"

#include "core/prefs/Preferences.h"
#include "core/shortcuts/HotKeyManager.h"
#include "platform/HotKeyService.h"
#include "platform/x11/X11Parts.h"
#include "support/LogCapture.h"
#include "support/MemorySettingsStore.h"
#include "support/QtPrinters.h"

#include <QProcess>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using Action = HotKeyManager::Action;
using X11TestEnv::run;
using X11TestEnv::waitUntil;

// The hot-key manager over real key grabs, pressed with xdotool.
class HotKeyManagerX11Test : public ::testing::Test {
protected:
    HotKeyManagerX11Test() : desktop(X11Parts::open(false)) {
        if (!desktop)
            return;
        manager = std::make_unique<HotKeyManager>(desktop->hotKeys());
        QObject::connect(manager.get(), &HotKeyManager::triggered,
                         [this](Action a) { actions.append(a); });
    }
    ~HotKeyManagerX11Test() override {
        if (numLockOn)
            run(u"xdotool"_s, {u"key"_s, u"Num_Lock"_s});
    }

    bool press(const QString& keys, Action expected) {
        const qsizetype before = actions.count(expected);
        return run(u"xdotool"_s, {u"key"_s, keys}) &&
               waitUntil([&] { return actions.count(expected) > before; });
    }

    MemorySettingsStore settings;
    Preferences prefs{settings};
    std::unique_ptr<X11Parts> desktop;
    std::unique_ptr<HotKeyManager> manager;
    QList<Action> actions;
    bool numLockOn = false;
};

TEST_F(HotKeyManagerX11Test, PressedShortcutsReachOnAction) {
    ASSERT_TRUE(desktop);
    prefs.setPinnedModifier(PinnedShortcutModifier::altSuper);
    prefs.setPinLimit(3);
    manager->reload(prefs);
    EXPECT_TRUE(press(u"ctrl+alt+v"_s, Action::openPanel()));
    EXPECT_TRUE(press(u"alt+super+2"_s, Action::pastePinned(1)));

    ASSERT_TRUE(run(u"xdotool"_s, {u"key"_s, u"Num_Lock"_s}));
    numLockOn = true;
    EXPECT_TRUE(press(u"ctrl+alt+v"_s, Action::openPanel()));
    EXPECT_TRUE(press(u"alt+super+3"_s, Action::pastePinned(2)));
}

TEST_F(HotKeyManagerX11Test, ACombinationHeldByAnotherClientIsAConflict) {
    ASSERT_TRUE(desktop);
    LogCapture log;
    auto other = X11Parts::open(false);
    ASSERT_TRUE(other);
    const KeyCombo taken{'k', KeyCombo::Ctrl | KeyCombo::Alt};
    ASSERT_EQ(other->hotKeys().registerHotKey(1, taken.keyCode, taken.carbonModifiers), 0);

    manager->reload(prefs);
    EXPECT_EQ(manager->conflictMessage(taken, prefs),
              u"Ctrl+Alt+K is already claimed by another app or the desktop."_s);
    EXPECT_EQ(manager->conflictMessage(KeyCombo::defaultOpenPanel(), prefs), std::nullopt)
        << "our own shortcut is no conflict";

    prefs.setTogglePauseHotKey(taken);
    manager->reload(prefs);
    EXPECT_EQ(log.lines, QStringList{u"Tindrel: could not register Ctrl+Alt+K (X error 10)"_s});
    // The refusal leaves the other shortcuts working.
    EXPECT_TRUE(press(u"ctrl+alt+v"_s, Action::openPanel()));
}

TEST_F(HotKeyManagerX11Test, AShortcutGivenTwiceIsRegisteredOnce) {
    ASSERT_TRUE(desktop);
    const KeyCombo firstPin{KeyCombo::numberRow[0], KeyCombo::Alt | KeyCombo::Super};
    struct Case {
        const char* name;
        std::function<void(Preferences&)> tweak;
        KeyCombo doubled;
        QString keys;
    };
    const Case cases[] = {
        {"pause as open panel",
         [](Preferences& p) { p.setTogglePauseHotKey(KeyCombo::defaultOpenPanel()); },
         KeyCombo::defaultOpenPanel(), u"ctrl+alt+v"_s},
        {"open panel as a pin",
         [&](Preferences& p) {
             p.setOpenPanelHotKey(firstPin);
             p.setPinnedModifier(PinnedShortcutModifier::altSuper);
             p.setPinLimit(2);
         },
         firstPin, u"alt+super+1"_s},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MemorySettingsStore store;
        Preferences casePrefs(store);
        c.tweak(casePrefs);
        LogCapture log;
        manager->reload(casePrefs);
        EXPECT_EQ(log.lines, QStringList{u"Tindrel: could not register "_s +
                                         c.doubled.displayString() + u" (X error 10)"_s});
        // The one registered first keeps the key, also after a reload.
        manager->reload(casePrefs);
        actions.clear();
        EXPECT_TRUE(press(c.keys, Action::openPanel()));
        X11TestEnv::settle();
        EXPECT_EQ(actions, QList<Action>{Action::openPanel()});
    }
}
