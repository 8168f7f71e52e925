#pragma once

#include "core/util/Instant.h"
#include "platform/FrontmostApp.h"
#include "platform/PointerWatcher.h"

#include <QObject>
#include <QRect>
#include <QSizeF>
#include <QStringList>
#include <optional>

class AppState;
class Clip;
class Clock;
class ContentView;
class PanelWindow;
class Pasteboard;
class Preferences;
class QKeyEvent;
class QScreen;
class Scheduler;
class WindowHints;
class Workspace;
struct PanelContent;

// Owns the floating clip panel: opens it under the tray icon (or at the top
// centre of the screen), sizes it from its content, takes the keyboard while
// it is open, closes it on a click elsewhere, and turns a chosen clip into a
// clipboard write and, when allowed, a paste into the application that was in
// front before the panel opened.
class PanelController : public QObject {
    Q_OBJECT
public:
    // The desktop services the panel uses; each must outlive it.
    struct Desktop {
        Clock& clock;
        // The application in front before the panel opens; activating the
        // panel on the user's behalf (Qt's own request carries the time of
        // the last event Qt saw, and the global shortcut does not come
        // through Qt, so focus-stealing prevention may refuse it); whether
        // pasting into other applications is possible.
        Workspace& workspace;
        Pasteboard& pasteboard;
        // Mouse presses anywhere on the screen, watched while the panel is
        // open: one outside our own windows closes it.
        PointerWatcher& pointer;
        WindowHints& windowHints;
        Scheduler& scheduler;
    };

    PanelController(AppState& state, Preferences& prefs, const Desktop& desktop,
                    QObject* parent = nullptr);
    ~PanelController() override;

    // Opens the panel, or closes it when open. `anchor` is the tray icon's
    // rectangle on screen; none places the panel at the top centre.
    void toggle(std::optional<QRect> anchor);
    void show(std::optional<QRect> anchor);
    // Opens it with a line on how to open it again, for this showing only:
    // Tindrel opened it by itself, as nothing else here would. `keyboardSettings`
    // is the program that opens the desktop's shortcut settings, if known.
    void showWithStartNotice(const QStringList& keyboardSettings);
    void hide();
    bool isVisible() const;
    // Builds the panel while it is hidden, when nobody waits for it: its
    // widgets, style, layout and a first paint off screen,
    // which otherwise make the first opening several times slower than the
    // later ones. Does nothing once the panel exists.
    void prepare();

    PanelWindow* window() const { return m_window; }
    ContentView* content() const { return m_content; }
    // The in-panel keys; true when the key was used up.
    bool handleKey(const QKeyEvent& event);
    // A mouse press somewhere on the screen while watching: one outside our
    // own windows closes the panel.
    void pointerPressed(const PointerWatcher::Press& press);

Q_SIGNALS:
    // Right before the panel writes the clipboard.
    void willWriteToPasteboard();
    // A chosen clip is on the clipboard: bring `target` back and paste into
    // it; with none, paste into whatever is in front.
    void pasteRequested(const std::optional<FrontmostApp>& target);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void makePanel();
    PanelContent currentContent() const;
    std::optional<QRectF> usableArea(QScreen* screen) const;
    QScreen* panelScreen() const;
    void applySizeLimits();
    void syncLimitsAndGrowIfNeeded();
    void applyDragResize(QSizeF translation);
    void saveDragResize();
    void paste(const Clip& clip);
    void setFrame(const QRectF& frame);
    void installMonitors();
    void removeMonitors();
    bool isOwnPress(const PointerWatcher::Press& press) const;

    AppState& m_state;
    Preferences& m_prefs;
    Desktop m_desktop;
    PanelWindow* m_window = nullptr; // made on first show, then kept
    ContentView* m_content = nullptr;
    std::optional<FrontmostApp> m_previousApp;
    Instant m_lastHide = Instant::distantPast();
    bool m_monitoring = false;
    quint64 m_showing = 0;     // counts the showings
    bool m_noticeNext = false; // the next showing carries the start notice
    QStringList m_keyboardSettings;
    quint64 m_ownPressTime = 0; // of the last press Qt gave one of our windows
    bool m_growPending = false;
    QSizeF m_resizeStart; // the panel's size when the running drag began
};
