#include "ui/status/StatusItem.h"
#include "core/prefs/Preferences.h"
#include "support/ManualScheduler.h"
#include "support/MemorySettingsStore.h"
#include "support/QtPrinters.h"

#include <QAction>
#include <QMenu>
#include <QSystemTrayIcon>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {
// A tray icon over in-memory preferences, with the pause state and the
// arrival timer in the test's hands.
class StatusItemTest : public ::testing::Test {
protected:
    StatusItemTest() {
        item.isPaused = [this] { return paused; };
        QObject::connect(&item, &StatusItem::clicked, [this] { ++clicks; });
        QObject::connect(&item, &StatusItem::togglePauseRequested, [this] {
            paused = !paused;
            item.update();
        });
        item.rebuild();
    }

    QStringList menuTexts() {
        Q_EMIT item.menu()->aboutToShow();
        QStringList out;
        for (QAction* action : item.menu()->actions())
            if (action->isVisible())
                out << (action->isSeparator()
                            ? u"-"_s
                            : action->text() + u" "_s + action->shortcut().toString());
        return out;
    }

    MemorySettingsStore settings;
    Preferences prefs{settings};
    ManualScheduler scheduler;
    StatusItem item{prefs, scheduler};
    bool paused = false;
    int clicks = 0;
};
} // namespace

TEST_F(StatusItemTest, PausingShowsTheFilledFadedSymbolAndSaysSo) {
    prefs.setMenuBarIcon(MenuBarIconStyle::scissors);
    item.update();
    EXPECT_EQ(item.symbolName(), u"scissors"_s);
    EXPECT_FALSE(item.dimmed());
    EXPECT_EQ(item.trayIcon()->toolTip(), u"Tindrel — Ctrl+Alt+V · right-click for menu"_s);

    Q_EMIT item.trayIcon()->activated(QSystemTrayIcon::MiddleClick);
    EXPECT_TRUE(paused);
    EXPECT_EQ(item.symbolName(), u"scissors.fill"_s);
    EXPECT_TRUE(item.dimmed());
    EXPECT_EQ(item.trayIcon()->toolTip(), u"Tindrel — tracking paused"_s);

    Q_EMIT item.trayIcon()->activated(QSystemTrayIcon::MiddleClick);
    EXPECT_EQ(item.symbolName(), u"scissors"_s);
    EXPECT_EQ(item.trayIcon()->toolTip(), u"Tindrel — Ctrl+Alt+V · right-click for menu"_s);

    // A key the desktop did not bind is not named as if it worked.
    item.isPanelShortcutBound = [] { return false; };
    item.update();
    EXPECT_EQ(item.trayIcon()->toolTip(), u"Tindrel — no shortcut · right-click for menu"_s);
    item.isPanelShortcutBound = [] { return true; };
    item.update();
    EXPECT_EQ(item.trayIcon()->toolTip(), u"Tindrel — Ctrl+Alt+V · right-click for menu"_s);

    prefs.setOpenPanelHotKey(std::nullopt);
    item.update();
    EXPECT_EQ(item.trayIcon()->toolTip(), u"Tindrel — no shortcut · right-click for menu"_s);
}

TEST_F(StatusItemTest, EveryStyleHasItsPlainAndFilledSymbol) {
    for (MenuBarIconStyle style : {MenuBarIconStyle::clipboard, MenuBarIconStyle::pin,
                                   MenuBarIconStyle::scissors, MenuBarIconStyle::tray}) {
        prefs.setMenuBarIcon(style);
        for (bool pause : {false, true}) {
            paused = pause;
            item.update();
            EXPECT_EQ(item.symbolName(), symbolName(style) + (pause ? u".fill"_s : u""_s));
            EXPECT_FALSE(item.trayIcon()->icon().isNull());
        }
    }
}

TEST_F(StatusItemTest, MenuListsItsItemsAndNamesThePauseStateItWouldSet) {
    // No shortcut hints: a tray menu does not fire them.
    const QStringList running{u"Pause Tracking "_s, u"-"_s, u"Settings… "_s,
                              u"Clear History "_s,  u"-"_s, u"Quit Tindrel "_s};
    EXPECT_EQ(menuTexts(), running);
    const QList<QAction*> actions = item.menu()->actions();
    paused = true;
    EXPECT_EQ(menuTexts().front(), u"Resume Tracking "_s);
    // The same actions, renamed: a tray host may hold on to the ones it was sent.
    EXPECT_EQ(item.menu()->actions(), actions);

    int settingsOpened = 0;
    QObject::connect(&item, &StatusItem::settingsRequested, [&] { ++settingsOpened; });
    Q_EMIT item.menu()->aboutToShow();
    item.menu()->actions().at(2)->trigger();
    EXPECT_EQ(settingsOpened, 1);
    // After the menu, a plain click still toggles the panel.
    Q_EMIT item.trayIcon()->activated(QSystemTrayIcon::Trigger);
    EXPECT_EQ(clicks, 1);
}

TEST_F(StatusItemTest, SyncLineCountsConnectedDevicesWhileSyncIsOn) {
    EXPECT_FALSE(menuTexts().join(u'|').contains(u"Sync:"_s));
    prefs.setSyncEnabled(true);
    const struct {
        int connected;
        QString line;
    } cases[] = {{0, u"Sync: no devices connected "_s},
                 {1, u"Sync: 1 device connected "_s},
                 {2, u"Sync: 2 devices connected "_s}};
    for (const auto& c : cases) {
        item.setConnectedDevices(c.connected);
        const QStringList texts = menuTexts();
        // Between "Settings…" and "Clear History", informational only.
        ASSERT_EQ(texts.size(), 7);
        EXPECT_EQ(texts.at(3), c.line);
    }
    EXPECT_FALSE(item.menu()->actions().at(3)->isEnabled());
    prefs.setSyncEnabled(false);
    EXPECT_EQ(menuTexts().size(), 6);
}

TEST_F(StatusItemTest, HidingAndShowingAgainGivesAWorkingIcon) {
    prefs.setShowMenuBarIcon(false);
    item.rebuild();
    EXPECT_FALSE(item.exists());
    EXPECT_EQ(item.anchor(), std::nullopt);
    item.notifyRemoteClip(u"Office"_s); // nothing to flash
    EXPECT_EQ(scheduler.pending(), 0);

    prefs.setShowMenuBarIcon(true);
    item.rebuild();
    ASSERT_TRUE(item.exists());
    Q_EMIT item.trayIcon()->activated(QSystemTrayIcon::Trigger);
    EXPECT_EQ(clicks, 1);
}

TEST_F(StatusItemTest, ArrivalsShowTheArrowUntilTheirTimeIsUp) {
    item.notifyRemoteClip(u"Office"_s);
    EXPECT_EQ(item.symbolName(), u"arrow.down.circle.fill"_s);
    EXPECT_EQ(item.trayIcon()->toolTip(), u"Tindrel — clip received from Office"_s);
    item.notifyRemoteClip(u"Laptop"_s);
    EXPECT_EQ(scheduler.delays, (QList<std::chrono::milliseconds>{1100ms, 1100ms}));
    scheduler.runFor();
    EXPECT_EQ(item.symbolName(), u"doc.on.clipboard"_s);
    EXPECT_EQ(item.trayIcon()->toolTip(), u"Tindrel — Ctrl+Alt+V · right-click for menu"_s);

    // A peer's name is shown as it is, never read as markup.
    item.notifyRemoteClip(u"<b>Office</b>"_s);
    EXPECT_FALSE(item.trayIcon()->toolTip().contains(u"<b>"_s));
    EXPECT_TRUE(item.trayIcon()->toolTip().contains(u"&lt;b&gt;Office&lt;/b&gt;"_s));
}

TEST_F(StatusItemTest, TheTooltipSaysWhyClipsAreNotSavedUntilTheyAre) {
    const QString plain = u"Tindrel — Ctrl+Alt+V · right-click for menu"_s;
    item.setSaveProblem(u"No space left on device"_s);
    EXPECT_EQ(item.trayIcon()->toolTip(), plain + u"\nClips not saved: No space left on device"_s);
    paused = true;
    item.update();
    EXPECT_EQ(item.trayIcon()->toolTip(),
              u"Tindrel — tracking paused\nClips not saved: No space left on device"_s);
    paused = false;
    item.setSaveProblem(std::nullopt);
    EXPECT_EQ(item.trayIcon()->toolTip(), plain);
}
