#include "app/AppDelegate.h"

#include "core/capture/ClipboardMonitor.h"
#include "core/capture/Paster.h"
#include "core/panel/AppState.h"
#include "core/prefs/Preferences.h"
#include "core/store/ClipStore.h"
#include "core/sync/SyncLog.h"
#include "core/util/Log.h"
#include "core/util/SystemClock.h"
#include "platform/Pasteboard.h"
#include "platform/PointerWatcher.h"
#include "platform/Workspace.h"
#include "platform/x11/X11Compositing.h"
#include "platform/x11/X11Desktop.h"
#include "platform/x11/X11WindowHints.h"
#include "platform/xdg/IniSettingsStore.h"
#include "platform/xdg/XdgAutostart.h"
#include "platform/xdg/XdgPaths.h"
#include "ui/Alerts.h"
#include "ui/Theme.h"
#include "ui/panel/ContentView.h"
#include "ui/panel/PanelController.h"
#include "ui/status/StatusItem.h"

#include <QApplication>

using namespace Qt::StringLiterals;

AppDelegate::AppDelegate(QObject* parent) : QObject(parent) {
    m_settings = std::make_unique<IniSettingsStore>(XdgPaths::settingsFile());
    m_clock = std::make_unique<SystemClock>();
    m_loginItem = std::make_unique<XdgAutostart>();
    m_prefs = std::make_unique<Preferences>(*m_settings, m_loginItem.get());
    m_desktop = X11Desktop::open();
    if (m_desktop)
        m_hotKeys = std::make_unique<HotKeyManager>(m_desktop->hotKeys());
    m_systemLook = Theme::capture();
}

AppDelegate::~AppDelegate() = default;

void AppDelegate::launch() {
    Workspace& workspace = m_desktop->workspace();
    Pasteboard& pasteboard = *m_desktop->pasteboard();

    m_store = std::make_unique<ClipStore>(*m_prefs, *m_clock, XdgPaths::storeFile());
    m_state =
        std::make_unique<AppState>(*m_store, *m_prefs,
                                   AppState::Hooks{[&workspace] { return workspace.isTrusted(); },
                                                   [&workspace] { workspace.beep(); },
                                                   {}});

    PanelController::Services services;
    services.clock = m_clock.get();
    services.frontmost = [&workspace] { return workspace.frontmost(); };
    services.writeText = [&pasteboard](const QString& text) { pasteboard.writeText(text); };
    services.canPaste = [&workspace] { return workspace.isTrusted(); };
    services.activateAndPaste = [this](std::optional<FrontmostApp> app) {
        m_paster->activateAndPaste(app);
    };
    services.compositing = [] { return X11Compositing::isActive(); };
    services.prepareWindow = [](quintptr window) { X11WindowHints::keepOutOfTaskbar(window); };
    PointerWatcher& pointer = m_desktop->pointer();
    services.watchPointer = [&pointer](bool watch) {
        if (watch)
            pointer.start();
        else
            pointer.stop();
    };
    // Sent on our own connection; Qt's show() has already waited for the
    // server to take the map, so the window manager knows the window by now.
    services.activateWindow = [&workspace](quintptr window) {
        FrontmostApp panel;
        panel.window = window;
        panel.isOwnProcess = true;
        workspace.activate(panel);
    };
    m_panel = std::make_unique<PanelController>(*m_state, *m_prefs, services);

    m_monitor = std::make_unique<ClipboardMonitor>(*m_prefs, pasteboard, workspace);
    m_paster = std::make_unique<Paster>(*m_prefs, *m_monitor, pasteboard, workspace,
                                        m_desktop->keySynth());

    // Callbacks, holding the delegate weakly.
    const QPointer<AppDelegate> self(this);
    m_monitor->onCopy = [self](const QString& text, const std::optional<QString>& source) {
        if (self)
            self->m_store->record(text, source);
    };
    pointer.onPress = [self](const PointerWatcher::Press& press) {
        if (self)
            self->m_panel->pointerPressed(press);
    };
    m_panel->willWriteToPasteboard = [self, &pasteboard] {
        if (self)
            self->m_monitor->setLastChangeCount(pasteboard.changeCount() + 1);
    };
    m_state->onOpenSettings = [self] {
        if (self)
            self->openSettings();
    };
    m_state->confirmClearHistory = [](const QString& message, const QString& detail) {
        return Alerts::confirmClearHistory(message, detail);
    };

    m_monitor->start();
    m_hotKeys->onAction = [self](HotKeyManager::Action action) {
        if (self)
            self->perform(action);
    };
    m_hotKeys->reload(*m_prefs);

    m_statusItem = std::make_unique<StatusItem>(*m_prefs);
    m_statusItem->isPaused = [self] { return self && self->m_monitor->isPaused(); };
    m_statusItem->onClick = [self](std::optional<QRect> anchor) {
        if (self)
            self->m_panel->toggle(anchor);
    };
    m_statusItem->onTogglePause = [self] {
        if (self)
            self->togglePause();
    };
    m_statusItem->onOpenSettings = [self] {
        if (self)
            self->openSettings();
    };
    m_statusItem->onClearHistory = [self] {
        if (self)
            self->clearHistory();
    };
    m_statusItem->onQuit = [] { QCoreApplication::quit(); };

    applyTheme();
    m_statusItem->rebuild();
    observePreferences();

    SyncLog::setFilePath(XdgPaths::syncLogFile());
    SyncLog::write(u"--- launch --- syncEnabled="_s +
                   (m_prefs->syncEnabled() ? u"true"_s : u"false"_s));
}

void AppDelegate::observePreferences() {
    connect(m_prefs.get(), &Preferences::showMenuBarIconChanged, this,
            [this] { m_statusItem->rebuild(); });
    connect(m_prefs.get(), &Preferences::menuBarIconChanged, this,
            [this] { m_statusItem->update(); });
    // The tooltip names the shortcut.
    connect(m_prefs.get(), &Preferences::openPanelHotKeyChanged, this,
            [this] { m_statusItem->update(); });
    connect(m_prefs.get(), &Preferences::themeChanged, this, &AppDelegate::applyTheme);
    connect(m_prefs.get(), &Preferences::pinLimitChanged, this,
            [this] { m_hotKeys->reload(*m_prefs); });
    connect(m_monitor.get(), &ClipboardMonitor::isPausedChanged, this,
            [this] { m_statusItem->update(); });
    // A failed save is only a log line otherwise, and the user may lose the
    // clips it holds.
    connect(m_store.get(), &ClipStore::saveErrorChanged, this,
            [this] { m_statusItem->setSaveProblem(m_store->saveError()); });
}

std::optional<QRect> AppDelegate::panelAnchor() const {
    return m_statusItem && m_statusItem->exists() ? m_statusItem->anchor() : std::nullopt;
}

void AppDelegate::perform(HotKeyManager::Action action) {
    switch (action.kind) {
    case HotKeyManager::Action::Kind::openPanel:
        m_panel->toggle(panelAnchor());
        break;
    case HotKeyManager::Action::Kind::togglePause:
        togglePause();
        break;
    case HotKeyManager::Action::Kind::pastePinned: {
        const std::optional<Clip> pin = m_store->pinnedClip(action.index);
        m_paster->pastePinned(pin ? std::optional<QString>(pin->text()) : std::nullopt);
        break;
    }
    }
}

void AppDelegate::showPanel() {
    if (!m_panel->isVisible())
        m_panel->show(panelAnchor());
}

void AppDelegate::togglePause() {
    m_monitor->setPaused(!m_monitor->isPaused());
    m_statusItem->update();
}

void AppDelegate::openSettings() {
    Log::write(u"Tindrel: the settings window is not part of this build yet"_s);
}

void AppDelegate::clearHistory() {
    m_state->requestClearHistory();
}

void AppDelegate::applyTheme() {
    Theme::apply(m_prefs->theme(), m_systemLook);
}

void AppDelegate::showNotice(const QString& message) {
    Log::write(u"Tindrel: "_s + message);
    if (m_statusItem && !message.isEmpty())
        m_statusItem->notify(message.at(0).toUpper() + message.sliced(1));
}

void AppDelegate::saveNow() {
    if (m_store)
        m_store->save();
    if (m_settings)
        m_settings->sync();
}
