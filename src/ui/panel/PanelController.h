#pragma once

#include "core/util/Instant.h"
#include "platform/FrontmostApp.h"
#include "platform/PointerWatcher.h"

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QSizeF>
#include <functional>
#include <optional>

class AppState;
class Clip;
class Clock;
class ContentView;
class PanelWindow;
class Preferences;
class QKeyEvent;
class QScreen;
struct PanelContent;

// Owns the floating clip panel: opens it under the tray icon (or at the top
// centre of the screen), sizes it from its content, takes the keyboard while
// it is open, closes it on a click elsewhere, and turns a chosen clip into a
// clipboard write and, when allowed, a paste into the application that was in
// front before the panel opened.
class PanelController : public QObject {
    Q_OBJECT
public:
    // The desktop services the panel needs; tests replace them.
    struct Services {
        Clock* clock = nullptr;
        // The application in front right now.
        std::function<std::optional<FrontmostApp>()> frontmost;
        // Replaces the clipboard with a plain text.
        std::function<void(const QString& text)> writeText;
        // Whether synthesised keys reach other applications.
        std::function<bool()> canPaste;
        // Brings `app` back and pastes into it; with none, pastes into
        // whatever is in front.
        std::function<void(std::optional<FrontmostApp> app)> activateAndPaste;
        // Whether a compositor draws translucent windows.
        std::function<bool()> compositing;
        // Marks the native panel window before each showing (keeps it out
        // of the taskbar).
        std::function<void(quintptr window)> prepareWindow;
        // Starts (true) or stops (false) the reports of mouse presses
        // anywhere on the screen, which come back through pointerPressed();
        // on only while the panel is open.
        std::function<void(bool watch)> watchPointer;
        // Asks the window manager to activate the shown panel on the user's
        // behalf. Qt's own request carries the time of the last event Qt saw;
        // the global shortcut does not come through Qt, so focus-stealing
        // prevention may find that time too old and refuse.
        std::function<void(quintptr window)> activateWindow;
        // Runs `task` after `seconds` on the main thread.
        std::function<void(double seconds, std::function<void()> task)> after;
    };

    PanelController(AppState& state, Preferences& prefs, Services services,
                    QObject* parent = nullptr);
    ~PanelController() override;

    // Opens the panel, or closes it when open. `anchor` is the tray icon's
    // rectangle on screen; none places the panel at the top centre.
    void toggle(std::optional<QRect> anchor);
    void show(std::optional<QRect> anchor);
    void hide();
    bool isVisible() const;

    // Called right before the panel writes the clipboard.
    std::function<void()> willWriteToPasteboard;

    PanelWindow* window() const { return m_window; }
    ContentView* content() const { return m_content; }
    // The in-panel keys; true when the key was used up.
    bool handleKey(const QKeyEvent& event);
    // A mouse press somewhere on the screen while watching: one outside our
    // own windows closes the panel.
    void pointerPressed(const PointerWatcher::Press& press);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void makePanel();
    PanelContent currentContent() const;
    std::optional<QRectF> usableArea(QScreen* screen) const;
    QScreen* panelScreen() const;
    void applySizeLimits();
    void syncLimitsAndGrowIfNeeded();
    void applyDragResize(QSizeF start, QSizeF translation);
    void paste(const Clip& clip);
    void setFrame(const QRectF& frame);
    void installMonitors();
    void removeMonitors();
    bool isOwnPress(const PointerWatcher::Press& press) const;

    AppState& m_state;
    Preferences& m_prefs;
    Services m_services;
    PanelWindow* m_window = nullptr; // made on first show, then kept
    ContentView* m_content = nullptr;
    std::optional<FrontmostApp> m_previousApp;
    Instant m_lastHide = Instant::distantPast();
    bool m_monitoring = false;
    quint64 m_showing = 0;      // counts the showings
    quint64 m_ownPressTime = 0; // of the last press Qt gave one of our windows
    bool m_growPending = false;
};
