#pragma once

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QString>
#include <functional>
#include <optional>

class Preferences;
class QAction;
class QMenu;
class QSystemTrayIcon;

// The tray icon: the program's one permanent presence on screen. A left click
// toggles the clip panel, a middle click pauses or resumes tracking, a right
// click opens the menu. It shows the chosen symbol, a filled and faded one
// while paused, and briefly an arrow when a clip arrives from another device.
class StatusItem : public QObject {
    Q_OBJECT
public:
    static constexpr double arrivalSeconds = 1.1;

    explicit StatusItem(Preferences& prefs, QObject* parent = nullptr);
    ~StatusItem() override;

    std::function<bool()> isPaused;
    std::function<void(std::optional<QRect> anchor)> onClick;
    std::function<void()> onTogglePause;
    std::function<void()> onOpenSettings;
    std::function<void()> onClearHistory;
    std::function<void()> onQuit;
    // Runs `task` after `seconds` on the main thread; tests replace it.
    std::function<void(double seconds, std::function<void()> task)> after;

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

    bool exists() const { return m_tray != nullptr; }
    // Where the panel opens: the icon's rectangle, or the pointer when the
    // tray does not tell where the icon is (StatusNotifierItem hosts); none
    // without an icon or a tray to show it in.
    std::optional<QRect> anchor() const;
    QSystemTrayIcon* trayIcon() const { return m_tray; }
    QMenu* menu() const { return m_menu; }
    // What the icon shows now.
    QString symbolName() const { return m_symbol; }
    bool dimmed() const { return m_dimmed; }
    QString toolTip() const;

private:
    void buildMenu();
    void updatePauseText();
    void show(const QString& symbol, bool dimmed);

    Preferences& m_prefs;
    QSystemTrayIcon* m_tray = nullptr;
    QMenu* m_menu = nullptr;
    QAction* m_pause = nullptr;
    QString m_symbol;
    bool m_dimmed = false;
    std::optional<QString> m_saveProblem;
};
