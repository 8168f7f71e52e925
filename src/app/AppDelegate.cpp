#include "app/AppDelegate.h"

#include "app/BusService.h"
#include "core/capture/ClipboardMonitor.h"
#include "core/capture/Paster.h"
#include "core/panel/AppState.h"
#include "core/prefs/Preferences.h"
#include "core/store/ClipStore.h"
#include "core/sync/SyncIdentity.h"
#include "core/sync/SyncLog.h"
#include "core/sync/SyncPinsAdapter.h"
#include "core/sync/SyncService.h"
#include "core/util/Graphemes.h"
#include "core/util/Log.h"
#include "core/util/SystemClock.h"
#include "core/util/TimerScheduler.h"
#include "platform/Pasteboard.h"
#include "platform/Workspace.h"
#include "platform/avahi/AvahiServiceDiscovery.h"
#include "platform/desktop/DesktopProbe.h"
#include "platform/xdg/ComputerName.h"
#include "platform/xdg/FreedesktopFileManager.h"
#include "platform/xdg/IniSettingsStore.h"
#include "platform/xdg/KeyboardSettings.h"
#include "platform/xdg/XdgAutostart.h"
#include "platform/xdg/XdgPaths.h"
#include "ui/Alerts.h"
#include "ui/Theme.h"
#include "ui/panel/PanelController.h"
#include "ui/settings/SettingsTab.h"
#include "ui/settings/SettingsWindow.h"
#include "ui/status/StatusItem.h"

#include <QApplication>
#include <QDBusConnection>
#include <algorithm>

using namespace Qt::StringLiterals;

AppDelegate::AppDelegate(QObject* parent) : QObject(parent) {
    m_settings = std::make_unique<IniSettingsStore>(XdgPaths::settingsFile());
    m_clock = std::make_unique<SystemClock>();
    m_loginItem = std::make_unique<XdgAutostart>();
    m_prefs = std::make_unique<Preferences>(*m_settings, m_loginItem.get());
    m_scheduler = std::make_unique<TimerScheduler>();
    m_desktop = DesktopProbe::open(m_settings.get());
    if (m_desktop)
        m_hotKeys = std::make_unique<HotKeyManager>(m_desktop->hotKeys());
    m_systemLook = Theme::capture();
}

AppDelegate::~AppDelegate() = default;

void AppDelegate::launch() {
    Workspace& workspace = m_desktop->workspace();
    Pasteboard& pasteboard = m_desktop->pasteboard();

    m_store = std::make_unique<ClipStore>(*m_prefs, *m_clock, XdgPaths::storeFile());
    m_state = std::make_unique<AppState>(*m_store, *m_prefs, workspace, *m_scheduler);
    m_state->confirmClearHistory = &Alerts::confirmClearHistory;
    m_panel = std::make_unique<PanelController>(
        *m_state, *m_prefs,
        PanelController::Desktop{*m_clock, workspace, pasteboard, m_desktop->pointer(),
                                 m_desktop->windowHints(), *m_scheduler});
    m_monitor = std::make_unique<ClipboardMonitor>(*m_prefs, pasteboard, workspace);
    m_paster = std::make_unique<Paster>(*m_prefs, *m_monitor, pasteboard, workspace,
                                        m_desktop->keySynth(), *m_scheduler);
    m_statusItem = std::make_unique<StatusItem>(*m_prefs, *m_scheduler);
    m_statusItem->isPaused = [this] { return m_monitor->isPaused(); };
    m_statusItem->isPanelShortcutBound = [this] {
        return m_hotKeys->isAvailable() &&
               !m_hotKeys->refusal(HotKeyManager::Action::openPanel()).has_value();
    };
    m_identity = std::make_unique<SyncIdentity>(*m_settings, ComputerName::current());
    // Without avahi-daemon sync says so once and runs on its listener and
    // the relay; discovery resumes when the daemon comes back.
    m_discovery = std::make_unique<AvahiServiceDiscovery>();
    SyncService::Options syncOptions;
    syncOptions.receivedClipsPath = XdgPaths::syncReceivedClipsFile();
    syncOptions.outboxPath = XdgPaths::syncOutboxFile();
    m_sync = std::make_unique<SyncService>(*m_prefs, *m_settings, *m_clock, *m_identity,
                                           *m_discovery, syncOptions);
    connectParts();

    m_monitor->start();
    m_hotKeys->reload(*m_prefs);
    applyTheme();
    // The panel is built once start-up has shown what it shows, not on the
    // first shortcut, where the user would wait for it.
    connect(m_statusItem.get(), &StatusItem::iconMade, this, &AppDelegate::preparePanelSoon);
    m_statusItem->rebuild();
    if (!m_prefs->showMenuBarIcon())
        preparePanelSoon();
    observePreferences();
    wireSync();
    publishOnBus();

    showIfNothingElseWould();

    SyncLog::setFilePath(XdgPaths::syncLogFile());
    SyncLog::write(u"--- launch --- syncEnabled="_s +
                   (m_prefs->syncEnabled() ? u"true"_s : u"false"_s));
    if (m_prefs->syncEnabled())
        m_sync->start();
}

void AppDelegate::showIfNothingElseWould() {
    // With no tray icon and no shortcut, a start that shows nothing looks
    // like one that failed, and leaves no way in: open the panel, saying
    // how to open it again. Asked once the desktop has had time to answer
    // about both (the tray host, the shortcut service and the Shell
    // extension all answer over the bus).
    m_scheduler->after(startSettle, this, [this] {
        if (m_panel->isVisible() || m_statusItem->isShown() || m_desktop->showsOurIcon() ||
            m_statusItem->isPanelShortcutBound())
            return;
        Log::write(u"Tindrel: no tray icon and no shortcut opens the panel here; opening it"_s);
        m_panel->showWithStartNotice(KeyboardSettings::command());
    });
}

void AppDelegate::preparePanelSoon() {
    m_scheduler->after(panelPrepareDelay, m_panel.get(),
                       [panel = m_panel.get()] { panel->prepare(); });
}

void AppDelegate::wireSync() {
    connect(m_sync.get(), &SyncService::remoteClipReceived, this,
            [this](const QString& text, const QString& sender) {
                // It becomes the clipboard's content without the monitor
                // taking it for a copy of ours, and is recorded once, here.
                m_monitor->writeOwnText(text);
                m_store->record(text, u"sync:"_s + sender);
                if (m_prefs->syncNotify())
                    m_statusItem->notifyRemoteClip(sender);
            });
    connect(m_sync.get(), &SyncService::remoteClipRecorded, this,
            [this](const QString& text, const QString& sender) {
                // A copy missed during an outage comes again when a part of
                // the answer overlaps what was taken before: one entry each.
                const QList<Clip>& history = m_store->history();
                if (std::none_of(history.cbegin(), history.cend(),
                                 [&](const Clip& clip) { return clip.text() == text; }))
                    m_store->record(text, u"sync:"_s + sender);
            });
    m_sync->pinsProvider = [this] {
        const PinsState state = m_store->pinsState(m_prefs->syncMaxLength());
        return SyncService::PinsSnapshot{SyncPinsAdapter::toWire(state.pins),
                                         SyncPinsAdapter::toWire(state.unpinned)};
    };
    connect(m_sync.get(), &SyncService::remotePinsReceived, this,
            [this](const QList<SyncPinPayload>& pins, const QList<SyncUnpinPayload>& unpinned,
                   const std::optional<QString>& fromPeer) {
                // A change passes on to the other devices, not back.
                if (m_store->mergePins(SyncPinsAdapter::fromWire(pins),
                                       SyncPinsAdapter::fromWire(unpinned)))
                    m_sync->broadcastPins(fromPeer);
            });
    connect(m_store.get(), &ClipStore::localPinsChanged, m_sync.get(),
            [this] { m_sync->broadcastPins(); });
    const auto showSync = [this] {
        m_statusItem->setConnectedDevices(int(m_sync->connectedPeerIds().size()));
    };
    connect(m_sync.get(), &SyncService::connectedPeerIdsChanged, this, showSync);
    connect(m_prefs.get(), &Preferences::syncEnabledChanged, this, showSync);
}

void AppDelegate::recordLocalCopy(const QString& text, const std::optional<QString>& source) {
    m_store->record(text, source);
    // Sent whether or not the local filters kept it, since the other device
    // applies its own.
    const int maxLength = m_prefs->syncMaxLength();
    if (maxLength == 0 || !Graphemes::exceeds(text, maxLength))
        m_sync->broadcast(Clip::make(text, m_clock->now(), source));
}

void AppDelegate::connectParts() {
    connect(m_monitor.get(), &ClipboardMonitor::copied, this, &AppDelegate::recordLocalCopy);
    // The panel's own write must not come back as a copy.
    connect(m_panel.get(), &PanelController::willWriteToPasteboard, this,
            [this] { m_monitor->setLastChangeCount(m_desktop->pasteboard().changeCount() + 1); });
    connect(m_panel.get(), &PanelController::pasteRequested, m_paster.get(),
            &Paster::activateAndPaste);
    connect(m_state.get(), &AppState::settingsRequested, this, &AppDelegate::showSettings);
    connect(m_hotKeys.get(), &HotKeyManager::triggered, this, &AppDelegate::perform);
    connect(m_statusItem.get(), &StatusItem::clicked, m_panel.get(), &PanelController::toggle);
    connect(m_statusItem.get(), &StatusItem::togglePauseRequested, this, &AppDelegate::togglePause);
    connect(m_statusItem.get(), &StatusItem::settingsRequested, this, &AppDelegate::showSettings);
    connect(m_statusItem.get(), &StatusItem::clearHistoryRequested, this,
            &AppDelegate::clearHistory);
    connect(m_statusItem.get(), &StatusItem::quitRequested, qApp, &QCoreApplication::quit);
}

void AppDelegate::publishOnBus() {
    m_bus = std::make_unique<BusService>(
        *m_store, *m_prefs, *m_monitor, *m_sync,
        BusService::Actions{
            .showPanel = [this] { showPanel(); },
            .hidePanel = [this] { m_panel->hide(); },
            .togglePanel = [this] { m_panel->toggle(panelAnchor()); },
            .openSettings = [this](const QString& tab) { openSettingsOn(tab); },
            .recordCopy = [this](const QString& text) { recordLocalCopy(text, std::nullopt); },
            .quit = [] { QCoreApplication::quit(); },
        });
    connect(m_bus.get(), &BusService::connected, this, [this](const QDBusConnection& bus) {
        m_desktop->useBusConnection(bus, QString::fromLatin1(BusService::serviceName));
    });
    m_bus->publish();
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
    // While a shortcut is being recorded the manager is suspended and these
    // register nothing; the end of the recording registers them again.
    for (const auto changed :
         {&Preferences::pinLimitChanged, &Preferences::openPanelHotKeyChanged,
          &Preferences::togglePauseHotKeyChanged, &Preferences::pinnedModifierChanged})
        connect(m_prefs.get(), changed, this, [this] { m_hotKeys->reload(*m_prefs); });
    connect(m_monitor.get(), &ClipboardMonitor::isPausedChanged, this,
            [this] { m_statusItem->update(); });
    // The tooltip names the shortcut only while the desktop holds it.
    for (const auto changed :
         {&HotKeyManager::refusalsChanged, &HotKeyManager::availabilityChanged})
        connect(m_hotKeys.get(), changed, this, [this] { m_statusItem->update(); });
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

void AppDelegate::showSettings() {
    if (!m_settingsWindow) {
        m_files = std::make_unique<FreedesktopFileManager>();
        Desktop* desktop = m_desktop.get();
        KeyCombo::BaseKeysym baseKeysym;
        if (desktop->knowsBaseKeysyms())
            baseKeysym = [desktop](quint32 code) { return desktop->baseKeysym(code); };
        m_settingsWindow = std::make_unique<SettingsWindow>(SettingsWindow::Services{
            *m_prefs, *m_store, *m_hotKeys, desktop->workspace(), *m_files, *m_settings, baseKeysym,
            *m_sync, *m_identity, *m_discovery, *m_clock, XdgPaths::syncLogFile(),
            &desktop->keySynth(), !desktop->pasteboard().reportsEveryChange()});
    }
    m_settingsWindow->showInFront();
}

void AppDelegate::openSettingsOn(const QString& tab) {
    showSettings();
    if (const auto chosen = fromRawValue<SettingsTab>(tab))
        m_settingsWindow->select(*chosen);
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
