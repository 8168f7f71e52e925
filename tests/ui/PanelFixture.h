#pragma once

#include "core/panel/AppState.h"
#include "core/prefs/Preferences.h"
#include "core/store/ClipStore.h"
#include "support/FakeClock.h"
#include "support/FakePointerWatcher.h"
#include "support/FillStore.h"
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

// A panel over a real store and preferences, with every desktop service
// faked: clipboard writes, pastes, the frontmost application and delays are
// recorded for the test to inspect and run.
class PanelFixture : public ::testing::Test {
protected:
    PanelFixture() {
        prefs.setConfirmClear(false);
        state = std::make_unique<AppState>(
            store, prefs,
            AppState::Hooks{[this] { return canPaste; }, [this] { ++beeps; },
                            [this](double, std::function<void()> task) {
                                pending.push_back(std::move(task));
                            }});
        PanelController::Services services;
        services.clock = &clock;
        services.frontmost = [this] { return frontmost; };
        services.writeText = [this](const QString& text) { written.append(text); };
        services.canPaste = [this] { return canPaste; };
        services.activateAndPaste = [this](std::optional<FrontmostApp> app) {
            pastedInto.push_back(app);
        };
        services.compositing = [] { return false; };
        services.after = [this](double, std::function<void()> task) {
            pending.push_back(std::move(task));
        };
        services.watchPointer = [this](bool watch) {
            if (watch)
                pointer.start();
            else
                pointer.stop();
        };
        services.activateWindow = [this](quintptr window) { activated.append(window); };
        panel = std::make_unique<PanelController>(*state, prefs, services);
        pointer.onPress = [this](const PointerWatcher::Press& press) {
            panel->pointerPressed(press);
        };
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

    void runPending() {
        auto tasks = std::move(pending);
        pending.clear();
        for (auto& task : tasks)
            task();
    }

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
    FakePointerWatcher pointer;
    QTemporaryDir dir;
    ClipStore store{prefs, clock, dir.filePath(QStringLiteral("store.json"))};
    std::unique_ptr<AppState> state;
    std::unique_ptr<PanelController> panel;

    bool canPaste = true;
    int beeps = 0;
    std::optional<FrontmostApp> frontmost;
    QStringList written;
    std::vector<std::optional<FrontmostApp>> pastedInto;
    std::vector<std::function<void()>> pending;
    QList<quintptr> activated; // windows the window manager was asked to activate
};
