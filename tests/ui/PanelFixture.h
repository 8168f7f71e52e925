#pragma once

#include "core/panel/AppState.h"
#include "core/prefs/Preferences.h"
#include "core/store/ClipStore.h"
#include "support/FakeClock.h"
#include "support/FakePasteboard.h"
#include "support/FakePointerWatcher.h"
#include "support/FakeWindowHints.h"
#include "support/FakeWorkspace.h"
#include "support/FillStore.h"
#include "support/ManualScheduler.h"
#include "support/MemorySettingsStore.h"
#include "support/QtPrinters.h"
#include "ui/panel/ClipListView.h"
#include "ui/panel/ContentView.h"
#include "ui/panel/PanelController.h"
#include "ui/panel/PanelWindow.h"

#include <QApplication>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

using namespace Qt::StringLiterals;

// A panel over a real store and preferences, with every desktop service
// faked: clipboard writes, pastes, the frontmost application and delays are
// recorded for the test to inspect and run.
class PanelFixture : public ::testing::Test {
protected:
    PanelFixture() {
        prefs.setConfirmClear(false);
        workspace.activationBringsToFront = false;
        QObject::connect(
            panel.get(), &PanelController::pasteRequested,
            [this](const std::optional<FrontmostApp>& app) { pastedInto.push_back(app); });
    }

    void fill(const QStringList& pins, const QStringList& history) {
        fillStore(store, pins, history);
    }

    void open() {
        panel->show(std::nullopt);
        QCoreApplication::processEvents();
    }

    // Lets the window system's answer to the hide arrive before the next open.
    void close() {
        panel->hide();
        QCoreApplication::processEvents();
    }

    void runPending() { scheduler.runFor(); }

    ContentView& content() { return *panel->content(); }
    QLineEdit& search() { return *content().searchField(); }
    void key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(&search(), static_cast<Qt::Key>(key), modifiers);
    }

    static QStringList rowTexts(const ClipListView& view) {
        QStringList out;
        for (const ClipRow& row : view.rows())
            out << row.clip.text();
        return out;
    }
    static QStringList texts(const QList<Clip>& clips) {
        QStringList out;
        for (const Clip& clip : clips)
            out << clip.text();
        return out;
    }

    static void sendMouse(QWidget* widget, QEvent::Type type, QPoint pos,
                          Qt::MouseButtons buttons) {
        const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent event(type, QPointF(pos), QPointF(widget->mapToGlobal(pos)), button, buttons,
                          Qt::NoModifier);
        QApplication::sendEvent(widget, &event);
    }

    MemorySettingsStore settings;
    Preferences prefs{settings};
    FakeClock clock;
    FakeWorkspace workspace;
    FakePasteboard board;
    FakePointerWatcher pointer;
    FakeWindowHints windowHints;
    ManualScheduler scheduler;
    QTemporaryDir dir;
    ClipStore store{prefs, clock, dir.filePath(u"store.json"_s)};
    std::unique_ptr<AppState> state =
        std::make_unique<AppState>(store, prefs, workspace, scheduler);
    std::unique_ptr<PanelController> panel = std::make_unique<PanelController>(
        *state, prefs,
        PanelController::Desktop{clock, workspace, board, pointer, windowHints, scheduler});

    // What the tests set and read, on the fakes.
    bool& canPaste = workspace.trusted;
    std::optional<FrontmostApp>& frontmost = workspace.front;
    QStringList& written = board.written;
    std::vector<std::optional<FrontmostApp>> pastedInto;
};
