#pragma once

#include "core/prefs/Preferences.h"
#include "core/shortcuts/HotKeyManager.h"
#include "core/store/ClipStore.h"
#include "core/sync/SyncIdentity.h"
#include "core/sync/SyncService.h"
#include "platform/FileManager.h"
#include "support/FakeClock.h"
#include "support/FakeHotKeyService.h"
#include "support/FakeServiceDiscovery.h"
#include "support/FakeWorkspace.h"
#include "support/FillStore.h"
#include "support/MemorySettingsStore.h"
#include "support/QtPrinters.h"
#include "ui/settings/Hint.h"
#include "ui/settings/SettingsWindow.h"

#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

using namespace Qt::StringLiterals;

// The settings window over real preferences, a real store in a temporary
// folder, a real hot-key manager and a real sync service on loopback; the
// desktop (key grabs, applications, file manager, DNS-SD) is faked.
class SettingsFixture : public ::testing::Test {
protected:
    struct RecordingFileManager final : FileManager {
        void reveal(const QString& path) override { revealed.append(path); }
        QStringList revealed;
    };

    SettingsFixture() {
        prefs.setConfirmClear(false);
        hotKeys.reload(prefs);
    }

    SettingsWindow& window() {
        if (!m_window)
            m_window = std::make_unique<SettingsWindow>(services());
        return *m_window;
    }

    SettingsWindow::Services services() {
        return {prefs, store,  hotKeys,  workspace, files, settings,
                {},    sync(), identity, discovery, clock, dir.filePath(u"sync.log"_s)};
    }

    // Built on first use, so that a test can store paired devices first.
    SyncService& sync() {
        if (!m_sync) {
            SyncService::Options options;
            options.listenAddress = QHostAddress::LocalHost;
            options.port = 0;
            m_sync =
                std::make_unique<SyncService>(prefs, settings, clock, identity, discovery, options);
        }
        return *m_sync;
    }

    // Focus moves, and so editing ends, only in the active window.
    void showActive() {
        window().show();
        window().activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window()));
    }

    template <typename Pane> Pane& pane(SettingsTab tab) {
        auto* found = qobject_cast<Pane*>(window().pane(tab));
        EXPECT_NE(found, nullptr);
        return *found;
    }

    // The hint of a pane that starts with `text`, or null.
    static Hint* hintStartingWith(QWidget& pane, const QString& text) {
        for (Hint* hint : pane.findChildren<Hint*>()) {
            if (hint->text().startsWith(text))
                return hint;
        }
        return nullptr;
    }

    static QPushButton* findButton(QWidget& pane, const QString& text) {
        for (QPushButton* button : pane.findChildren<QPushButton*>())
            if (button->text() == text)
                return button;
        return nullptr;
    }

    void fill(const QStringList& pins, const QStringList& history) {
        fillStore(store, pins, history);
    }

    QString path(const QString& name) const { return dir.filePath(name); }

    MemorySettingsStore settings;
    Preferences prefs{settings};
    FakeClock clock;
    QTemporaryDir dir;
    ClipStore store{prefs, clock, dir.filePath(u"store.json"_s)};
    FakeHotKeyService keys;
    HotKeyManager hotKeys{keys};
    FakeWorkspace workspace;
    RecordingFileManager files;
    SyncIdentity identity{settings, u"Anna's laptop"_s};
    FakeServiceDiscovery discovery;

private:
    std::unique_ptr<SyncService> m_sync;
    std::unique_ptr<SettingsWindow> m_window;
};
