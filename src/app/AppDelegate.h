#pragma once

#include "core/shortcuts/HotKeyManager.h"
#include "ui/Theme.h"

#include <QObject>
#include <chrono>
#include <memory>
#include <optional>

class AppState;
class BusService;
class ClipStore;
class ClipboardMonitor;
class Clock;
class Desktop;
class FreedesktopFileManager;
class LoginItem;
class PanelController;
class Pasteboard;
class Paster;
class Preferences;
class Scheduler;
class ServiceDiscovery;
class SettingsStore;
class SettingsWindow;
class StatusItem;
class SyncIdentity;
class SyncService;

// Builds every long-lived part of the program in a fixed order, connects
// them, and does what the global shortcuts and the tray menu ask for. Owns
// all of it for the life of the process.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    // The settings, the desktop connection and the global shortcuts; false
    // from isReady() when there is neither an X11 desktop nor a Wayland one
    // with data-control to talk to.
    explicit AppDelegate(QObject* parent = nullptr);
    ~AppDelegate() override;

    bool isReady() const { return m_desktop && m_hotKeys; }
    // The rest, in order: store, panel state, panel, clipboard monitor,
    // sync; then polling, shortcuts, theme, tray icon and, when on, sync.
    void launch();

    void perform(HotKeyManager::Action action);
    void applyTheme();
    // Opens the panel without toggling it shut (a second start asked for it).
    void showPanel();
    // Opens the settings window in front, building it the first time.
    void showSettings();
    // Saves the store now: at quit, on a signal, at session end.
    void saveNow();
    // Opens the settings window, on the named tab when there is one.
    void openSettingsOn(const QString& tab);
    // Tells the user once about a problem found at start (and logs it);
    // the message reads on after "Tindrel: ".
    void showNotice(const QString& message);

private:
    // How long the desktop has to say whether a tray icon or a shortcut
    // will open the panel.
    static constexpr std::chrono::seconds startSettle{3};
    // From the tray icon's making to building the panel ahead: enough for
    // the icon's requests to leave and the tray to show it first.
    static constexpr std::chrono::milliseconds panelPrepareDelay{50};
    void connectParts();
    // A copy made on this computer, from the clipboard or the command line:
    // into the store, and to the paired devices.
    void recordLocalCopy(const QString& text, const std::optional<QString>& source);
    void publishOnBus();
    void observePreferences();
    void wireSync();
    void showIfNothingElseWould();
    void preparePanelSoon();
    void togglePause();
    void clearHistory();
    std::optional<QRect> panelAnchor() const;

    std::unique_ptr<SettingsStore> m_settings;
    std::unique_ptr<Clock> m_clock;
    std::unique_ptr<Scheduler> m_scheduler;
    std::unique_ptr<LoginItem> m_loginItem;
    std::unique_ptr<Preferences> m_prefs;
    // The clipboard, keys, shortcuts and windows of the desktop we run on.
    std::unique_ptr<Desktop> m_desktop;
    std::unique_ptr<HotKeyManager> m_hotKeys;
    std::unique_ptr<ClipStore> m_store;
    std::unique_ptr<AppState> m_state;
    std::unique_ptr<PanelController> m_panel;
    std::unique_ptr<ClipboardMonitor> m_monitor;
    std::unique_ptr<Paster> m_paster;
    std::unique_ptr<StatusItem> m_statusItem;
    std::unique_ptr<FreedesktopFileManager> m_files;
    std::unique_ptr<SettingsWindow> m_settingsWindow;
    std::unique_ptr<BusService> m_bus;
    std::unique_ptr<SyncIdentity> m_identity;
    std::unique_ptr<ServiceDiscovery> m_discovery;
    // Last, so it goes first: its callbacks reach into everything above.
    std::unique_ptr<SyncService> m_sync;

    // The look the desktop gave us, for the "system" theme to return to.
    Theme::SystemLook m_systemLook;
};
