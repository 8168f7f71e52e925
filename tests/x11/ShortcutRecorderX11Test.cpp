#include "X11TestEnv.h"

#include "core/prefs/Preferences.h"
#include "core/shortcuts/HotKeyManager.h"
#include "core/store/ClipStore.h"
#include "core/sync/SyncIdentity.h"
#include "core/sync/SyncService.h"
#include "platform/FileManager.h"
#include "platform/HotKeyService.h"
#include "platform/x11/X11Parts.h"
#include "support/FakeClock.h"
#include "support/FakeServiceDiscovery.h"
#include "support/MemorySettingsStore.h"
#include "support/QtPrinters.h"
#include "ui/settings/SettingsWindow.h"
#include "ui/settings/ShortcutRecorderView.h"
#include "ui/settings/ShortcutsPane.h"

#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using Action = HotKeyManager::Action;
using X11TestEnv::run;
using X11TestEnv::waitUntil;

namespace {
constexpr quint32 kCtrlAlt = KeyCombo::Ctrl | KeyCombo::Alt;

struct NoFileManager final : FileManager {
    void reveal(const QString&) override {}
};
} // namespace

// The settings window on the headless desktop, its shortcut recorder typed
// into with xdotool, over real key grabs.
class ShortcutRecorderX11Test : public ::testing::Test {
protected:
    ShortcutRecorderX11Test() : desktop(X11Parts::open(false)) {
        if (!desktop)
            return;
        hotKeys = std::make_unique<HotKeyManager>(desktop->hotKeys());
        QObject::connect(hotKeys.get(), &HotKeyManager::triggered,
                         [this](Action a) { actions.append(a); });
        // What the application does: every change of a shortcut re-registers.
        QObject::connect(&prefs, &Preferences::openPanelHotKeyChanged,
                         [this] { hotKeys->reload(prefs); });
        hotKeys->reload(prefs);
        settings.values.insert(u"lastSettingsTab"_s, u"shortcuts"_s);
        X11Parts* d = desktop.get();
        window = std::make_unique<SettingsWindow>(
            SettingsWindow::Services{prefs, store, *hotKeys, desktop->workspace(), files, settings,
                                     [d](quint32 code) { return d->baseKeysym(code); }, sync,
                                     identity, discovery, clock, QString()});
        window->showInFront();
        pane = qobject_cast<ShortcutsPane*>(window->pane(SettingsTab::shortcuts));
    }

    ShortcutRecorderView& recorder() { return *pane->openPanelRecorder(); }

    // A real click on the recorder, then keys as the user types them.
    bool record(const QString& keys) {
        const QPoint centre = recorder().mapToGlobal(recorder().rect().center());
        return run(u"xdotool"_s, {u"mousemove"_s, QString::number(centre.x()),
                                  QString::number(centre.y()), u"click"_s, u"1"_s}) &&
               waitUntil([this] { return recorder().isRecording(); }) &&
               run(u"xdotool"_s, {u"key"_s, keys}) &&
               waitUntil([this] { return !recorder().isRecording(); });
    }

    MemorySettingsStore settings;
    Preferences prefs{settings};
    FakeClock clock;
    QTemporaryDir dir;
    ClipStore store{prefs, clock, dir.filePath(u"store.json"_s)};
    NoFileManager files;
    SyncIdentity identity{settings, u"Test"_s};
    FakeServiceDiscovery discovery;
    SyncService sync{prefs, settings, clock, identity, discovery};
    std::unique_ptr<X11Parts> desktop;
    std::unique_ptr<HotKeyManager> hotKeys;
    std::unique_ptr<SettingsWindow> window;
    ShortcutsPane* pane = nullptr;
    QList<Action> actions;
};

TEST_F(ShortcutRecorderX11Test, ARecordedChordBecomesTheShortcutThatOpensThePanel) {
    ASSERT_TRUE(desktop && pane);
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));

    ASSERT_TRUE(record(u"ctrl+alt+k"_s));
    EXPECT_EQ(prefs.openPanelHotKey(), (KeyCombo{'k', kCtrlAlt}));
    EXPECT_EQ(recorder().text(), u"Ctrl+Alt+K"_s);
    EXPECT_TRUE(pane->conflictWarning().isEmpty());

    ASSERT_TRUE(run(u"xdotool"_s, {u"key"_s, u"ctrl+alt+k"_s}));
    EXPECT_TRUE(waitUntil([this] { return actions.contains(Action::openPanel()); }));
}

TEST_F(ShortcutRecorderX11Test, AChordAnotherClientGrabbedIsRecordedWithAWarning) {
    ASSERT_TRUE(desktop && pane);
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    auto other = X11Parts::open(false);
    ASSERT_TRUE(other);
    ASSERT_EQ(other->hotKeys().registerHotKey(1, 'j', kCtrlAlt), 0);

    // The recorder holds the keyboard, so the other client's grab does not
    // swallow the chord.
    ASSERT_TRUE(record(u"ctrl+alt+j"_s));
    EXPECT_EQ(prefs.openPanelHotKey(), (KeyCombo{'j', kCtrlAlt}));
    EXPECT_EQ(pane->conflictWarning(),
              u"Ctrl+Alt+J is already claimed by another app or the desktop."_s);
}

TEST_F(ShortcutRecorderX11Test, EscKeepsAndDeleteClears) {
    ASSERT_TRUE(desktop && pane);
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    const auto before = prefs.openPanelHotKey();

    ASSERT_TRUE(record(u"Escape"_s));
    EXPECT_EQ(prefs.openPanelHotKey(), before);
    // Our grab is back once recording ends.
    ASSERT_TRUE(run(u"xdotool"_s, {u"key"_s, u"ctrl+alt+v"_s}));
    EXPECT_TRUE(waitUntil([this] { return actions.contains(Action::openPanel()); }));

    ASSERT_TRUE(record(u"Delete"_s));
    EXPECT_EQ(prefs.openPanelHotKey(), std::nullopt);
    EXPECT_EQ(recorder().text(), u"Click to record"_s);
}
