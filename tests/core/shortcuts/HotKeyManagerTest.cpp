#include "core/shortcuts/HotKeyManager.h"
#include "core/prefs/Preferences.h"
#include "support/FakeHotKeyService.h"
#include "support/LogCapture.h"
#include "support/MemorySettingsStore.h"
#include "support/QtPrinters.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <algorithm>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using Action = HotKeyManager::Action;
using Combo = FakeHotKeyService::Combo;

namespace {
constexpr quint32 kAltSuper = KeyCombo::Alt | KeyCombo::Super;
const Combo kOpenPanel{KeyCombo::defaultOpenPanel().keyCode,
                       KeyCombo::defaultOpenPanel().carbonModifiers};
const Combo kPause{'p', KeyCombo::Ctrl | KeyCombo::Alt};
} // namespace

// Found by argument-dependent lookup, so outside the anonymous namespace.
inline void PrintTo(const Action& a, std::ostream* out) {
    *out << "Action(" << int(a.kind) << ", " << a.index << ')';
}

class HotKeyManagerTest : public ::testing::Test {
protected:
    HotKeyManagerTest() {
        prefs.setTogglePauseHotKey(KeyCombo{kPause.first, kPause.second});
        QObject::connect(&manager, &HotKeyManager::triggered,
                         [this](Action a) { actions.append(a); });
    }

    QList<Combo> grabbed() const { return service.grabs.values(); }
    static QList<Combo> pinnedCombos(int count, quint32 mask) {
        QList<Combo> combos;
        for (int i = 0; i < count; ++i)
            combos.append({KeyCombo::numberRow[size_t(i)], mask});
        return combos;
    }

    MemorySettingsStore settings;
    Preferences prefs{settings};
    FakeHotKeyService service;
    HotKeyManager manager{service};
    QList<Action> actions;
};

TEST_F(HotKeyManagerTest, RegistersWhatThePreferencesAskFor) {
    struct Case {
        const char* name;
        PinnedShortcutModifier modifier;
        int pinLimit;
        QList<Combo> pinned;
    };
    const Case cases[] = {
        {"five pins", PinnedShortcutModifier::altSuper, 5, pinnedCombos(5, kAltSuper)},
        {"more pins than keys", PinnedShortcutModifier::altSuper, 12, pinnedCombos(10, kAltSuper)},
        {"other modifier", PinnedShortcutModifier::ctrlShift, 3,
         pinnedCombos(3, KeyCombo::Ctrl | KeyCombo::Shift)},
        {"disabled", PinnedShortcutModifier::disabled, 10, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        prefs.setPinnedModifier(c.modifier);
        prefs.setPinLimit(c.pinLimit);
        manager.reload(prefs);
        // Registered in order: open panel, pause, then pins 1...9, 0.
        EXPECT_EQ(grabbed(), QList<Combo>({kOpenPanel, kPause}) + c.pinned);
    }
    // The position 9 key is 0.
    EXPECT_EQ(pinnedCombos(10, 0).last().first, u'0');
}

TEST_F(HotKeyManagerTest, IdsOnlyGrowAndNoStaleIdSurvives) {
    prefs.setPinnedModifier(PinnedShortcutModifier::altSuper);
    prefs.setPinLimit(2);
    QList<quint32> seen;
    for (int round = 0; round < 3; ++round) {
        manager.reload(prefs);
        const QList<quint32> ids = service.grabs.keys();
        for (quint32 id : ids) {
            EXPECT_FALSE(seen.contains(id)) << "id " << id << " handed out twice";
            seen.append(id);
        }
        QList<quint32> registered = manager.registeredIds();
        std::sort(registered.begin(), registered.end());
        EXPECT_EQ(registered, ids);
    }
    manager.unregisterAll();
    EXPECT_TRUE(service.grabs.isEmpty());
    EXPECT_TRUE(manager.registeredIds().isEmpty());
}

TEST_F(HotKeyManagerTest, ARefusedShortcutIsLoggedAndTheOthersStillWork) {
    LogCapture log;
    service.taken.insert(kOpenPanel);
    manager.reload(prefs);
    EXPECT_EQ(log.lines, QStringList{u"Tindrel: could not register Ctrl+Alt+V (X error 10)"_s});
    EXPECT_EQ(grabbed(), QList<Combo>{kPause});
    // The refused id is spent all the same.
    EXPECT_EQ(service.attempts.size(), 2);
    EXPECT_EQ(service.grabs.firstKey(), 2u);
}

TEST_F(HotKeyManagerTest, PressesBecomeActionsOnALaterMainThreadTask) {
    prefs.setPinnedModifier(PinnedShortcutModifier::altSuper);
    manager.reload(prefs);
    EXPECT_TRUE(service.press(kOpenPanel));
    EXPECT_TRUE(service.press({KeyCombo::numberRow[9], kAltSuper}));
    EXPECT_TRUE(service.press(kPause));
    EXPECT_TRUE(actions.isEmpty()) << "not inside the platform's handler";
    QCoreApplication::processEvents();
    EXPECT_EQ(actions,
              (QList<Action>{Action::openPanel(), Action::pastePinned(9), Action::togglePause()}));

    // A press whose registration went away before dispatch does nothing.
    actions.clear();
    service.press(kOpenPanel);
    manager.unregisterAll();
    QCoreApplication::processEvents();
    EXPECT_TRUE(actions.isEmpty());
}

TEST_F(HotKeyManagerTest, APressAfterTheManagerIsGoneDoesNothing) {
    FakeHotKeyService other;
    bool called = false;
    {
        HotKeyManager transient(other);
        QObject::connect(&transient, &HotKeyManager::triggered, [&](Action) { called = true; });
        transient.reload(prefs);
        other.onPressed(1); // delivered while it still exists, dispatched later
    }
    QCoreApplication::processEvents();
    EXPECT_FALSE(called);
    EXPECT_TRUE(other.grabs.isEmpty());
    EXPECT_FALSE(other.onPressed) << "no callback into a destroyed manager";
}

TEST_F(HotKeyManagerTest, RegistersNothingWhileRecording) {
    manager.reload(prefs);
    manager.beginRecording();
    EXPECT_TRUE(service.grabs.isEmpty());
    manager.reload(prefs); // e.g. the pin limit changed meanwhile
    EXPECT_TRUE(service.grabs.isEmpty());
    manager.endRecording(prefs);
    EXPECT_EQ(grabbed(), (QList<Combo>{kOpenPanel, kPause}));
}

TEST_F(HotKeyManagerTest, ConflictCheckIgnoresOurOwnShortcuts) {
    LogCapture log;
    manager.reload(prefs);
    const KeyCombo ours = KeyCombo::defaultOpenPanel();
    EXPECT_EQ(manager.conflictMessage(ours, prefs), std::nullopt);

    const KeyCombo elsewhere{'k', KeyCombo::Ctrl | KeyCombo::Alt};
    service.taken.insert({elsewhere.keyCode, elsewhere.carbonModifiers});
    EXPECT_EQ(manager.conflictMessage(elsewhere, prefs),
              u"Ctrl+Alt+K is already claimed by another app or the desktop."_s);

    // Our shortcuts are back, the probe is gone, and nothing was logged.
    EXPECT_EQ(grabbed(), (QList<Combo>{kOpenPanel, kPause}));
    EXPECT_FALSE(manager.suspended());
    EXPECT_TRUE(log.lines.isEmpty());
}

TEST_F(HotKeyManagerTest, AShortcutLostLaterIsLoggedAndDropped) {
    LogCapture log;
    manager.reload(prefs);
    const quint32 pauseId = service.grabs.lastKey();
    service.grabs.remove(pauseId);
    service.onLost(pauseId, 10);
    EXPECT_EQ(log.lines, QStringList{u"Tindrel: could not register Ctrl+Alt+P (X error 10)"_s});
    EXPECT_FALSE(manager.registeredIds().contains(pauseId));
}

TEST_F(HotKeyManagerTest, KeysGivenInTheDesktopsSettingsBecomeThePreference) {
    const Combo ctrlAltC{'c', KeyCombo::Ctrl | KeyCombo::Alt};
    struct Case {
        const char* name;
        Combo from;
        std::optional<Combo> to;
        std::optional<KeyCombo> openPanel;
        std::optional<KeyCombo> pause;
        PinnedShortcutModifier pinned;
    };
    const Case cases[] = {
        {"open panel on other keys", kOpenPanel, ctrlAltC, KeyCombo{'c', ctrlAltC.second},
         KeyCombo{'p', kPause.second}, PinnedShortcutModifier::altSuper},
        {"pause given no keys", kPause, std::nullopt, KeyCombo::defaultOpenPanel(), std::nullopt,
         PinnedShortcutModifier::altSuper},
        // The pinned clips share a modifier: a new one for a clip is one for all.
        {"pinned clip 3 on another modifier",
         {'3', kAltSuper},
         Combo{'3', KeyCombo::Ctrl | KeyCombo::Super},
         KeyCombo::defaultOpenPanel(),
         KeyCombo{'p', kPause.second},
         PinnedShortcutModifier::ctrlSuper},
        // One clip alone on other keys is nothing the preferences can hold.
        {"pinned clip 3 on a letter",
         {'3', kAltSuper},
         ctrlAltC,
         KeyCombo::defaultOpenPanel(),
         KeyCombo{'p', kPause.second},
         PinnedShortcutModifier::altSuper},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MemorySettingsStore store;
        Preferences local{store};
        local.setTogglePauseHotKey(KeyCombo{kPause.first, kPause.second});
        local.setPinnedModifier(PinnedShortcutModifier::altSuper);
        local.setPinLimit(3);
        FakeHotKeyService desktop;
        HotKeyManager hotKeys{desktop};
        int reloads = 0;
        // As the application does: a changed preference reloads.
        for (auto changed :
             {&Preferences::openPanelHotKeyChanged, &Preferences::togglePauseHotKeyChanged,
              &Preferences::pinnedModifierChanged})
            QObject::connect(&local, changed, &hotKeys, [&] {
                ++reloads;
                hotKeys.reload(local);
            });
        hotKeys.reload(local);
        ASSERT_TRUE(desktop.rebind(c.from, c.to));
        QCoreApplication::sendPostedEvents();
        EXPECT_EQ(local.openPanelHotKey(), c.openPanel);
        EXPECT_EQ(local.togglePauseHotKey(), c.pause);
        EXPECT_EQ(local.pinnedModifier(), c.pinned);
        // What is registered now is what the preferences say, once.
        EXPECT_LE(reloads, 1);
        QList<Combo> expected;
        if (c.openPanel)
            expected << Combo{c.openPanel->keyCode, c.openPanel->carbonModifiers};
        if (c.pause)
            expected << Combo{c.pause->keyCode, c.pause->carbonModifiers};
        expected << pinnedCombos(3, modifierMask(c.pinned));
        EXPECT_EQ(desktop.grabs.values(), expected);
        // The same keys again are no change.
        const QList<quint32> attempts = desktop.attempts;
        if (c.openPanel)
            desktop.rebind(expected.first(), expected.first());
        QCoreApplication::sendPostedEvents();
        EXPECT_EQ(desktop.attempts, attempts);
    }
}

TEST_F(HotKeyManagerTest, RefusedShortcutsAreToldUntilTheNextReload) {
    service.taken.insert(kOpenPanel);
    QSignalSpy changed(&manager, &HotKeyManager::refusalsChanged);
    manager.reload(prefs);
    EXPECT_EQ(manager.refusal(Action::openPanel()), u"Ctrl+Alt+V is not bound: X error 10."_s);
    EXPECT_EQ(manager.refusal(Action::togglePause()), std::nullopt);
    // Given up later, as a desktop that answers late does.
    const quint32 pauseId = service.grabs.lastKey();
    service.grabs.remove(pauseId);
    service.onLost(pauseId, 10);
    EXPECT_EQ(manager.refusal(Action::togglePause()), u"Ctrl+Alt+P is not bound: X error 10."_s);
    EXPECT_EQ(changed.size(), 2);
    service.taken.clear();
    manager.reload(prefs);
    EXPECT_EQ(manager.refusal(Action::openPanel()), std::nullopt);
    EXPECT_EQ(manager.refusal(Action::togglePause()), std::nullopt);
}
