#pragma once

#include <QObject>
#include <QRect>
#include <QString>
#include <chrono>
#include <functional>
#include <optional>

class Preferences;
class QAction;
class QMenu;
class QSystemTrayIcon;
class Scheduler;
class StatusNotifierItem;

// The tray icon: the program's one permanent presence on screen. A left click
// toggles the clip panel, a middle click pauses or resumes tracking, a right
// click opens the menu. It shows the chosen symbol, a filled and faded one
// while paused, and briefly an arrow when a clip arrives from another device.
class StatusItem : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds arrivalDuration{1100};

    // The scheduler ends the arrival signal.
    StatusItem(Preferences& prefs, Scheduler& scheduler, QObject* parent = nullptr);
    ~StatusItem() override;

    // Whether tracking is paused now, for the symbol, tooltip and menu.
    std::function<bool()> isPaused;
    // Whether the desktop really bound the panel's shortcut; unset, it did.
    // The tooltip names a shortcut only then.
    std::function<bool()> isPanelShortcutBound;

    // Creates or removes the tray icon as showMenuBarIcon says.
    void rebuild();
    // Redraws symbol, faded look and tooltip.
    void update();
    // The arrival signal; nothing while the icon is hidden.
    void notifyRemoteClip(const QString& deviceName);
    // Why the clips could not be saved, shown in the tooltip until cleared.
    void setSaveProblem(std::optional<QString> problem);
    // A message the user should see once, as a tray notification.
    void notify(const QString& message);
    // How many devices sync reaches now, for the menu's sync line (shown
    // while sync is on).
    void setConnectedDevices(int count);
    static QString syncLineText(int connectedDevices);

    bool exists() const { return m_tray != nullptr || m_notifier != nullptr; }
    // Whether a tray shows it: an XEmbed icon exists whether or not any
    // tray is there to take it.
    bool isShown() const;
    // Where the panel opens: the icon's rectangle, or the pointer when the
    // tray does not tell where the icon is; on a tray that listens on the
    // session bus, where it was last clicked, or beside it before any click;
    // none without an icon or a tray to show it in.
    std::optional<QRect> anchor() const;
    // The icon where no tray listens on the session bus (an XEmbed tray);
    // null while our own item is shown on such a tray instead.
    QSystemTrayIcon* trayIcon() const { return m_tray; }
    // The icon theme's name for what the icon shows: the program's own
    // symbolic icon for the plain clipboard; empty where the theme has none.
    static QString themeIconName(const QString& symbol, bool dimmed);
    QMenu* menu() const { return m_menu; }
    // What the icon shows now.
    QString symbolName() const { return m_symbol; }
    bool dimmed() const { return m_dimmed; }
    QString toolTip() const;

Q_SIGNALS:
    // A plain click: toggle the panel at `anchor`.
    void clicked(std::optional<QRect> anchor);
    void togglePauseRequested();
    void settingsRequested();
    void clearHistoryRequested();
    void quitRequested();
    // The icon has just been made (an XEmbed icon or our item on the bus),
    // the last step of start-up the user sees.
    void iconMade();

private:
    void makeTrayIcon();
    void makeNotifierItem();
    // A plain click on the icon, `at` where the panel should open.
    void trigger(std::optional<QRect> at);
    std::optional<QRect> besideTray() const;
    void buildMenu();
    void updatePauseText();
    void updateSyncLine();
    void show(const QString& symbol, bool dimmed);
    void setToolTipText(const QString& text);

    bool paused() const { return isPaused && isPaused(); }

    Preferences& m_prefs;
    Scheduler& m_scheduler;
    QSystemTrayIcon* m_tray = nullptr;
    StatusNotifierItem* m_notifier = nullptr;
    bool m_askingForWatcher = false;
    std::optional<QPoint> m_lastClick;
    QMenu* m_menu = nullptr;
    QAction* m_pause = nullptr;
    QAction* m_syncLine = nullptr;
    int m_connectedDevices = 0;
    QString m_symbol;
    bool m_dimmed = false;
    std::optional<QString> m_saveProblem;
};
