#pragma once

#include <QString>
#include <memory>

class KeySynth;
class Pasteboard;
class WaylandPasteboard;
class WindowTracker;
class Workspace;

// The desktop of a Wayland session whose compositor offers data-control: the
// clipboard through it, pasting through the virtual keyboard where there is
// one, the window in front from sway's IPC or KWin where they run. XWayland,
// when there, lends its workspace and tells whether modifiers are held;
// without it the freedesktop workspace stands in and nothing can paste.
class WaylandDesktop final {
public:
    // `xwayland*` may be null: no X server in this session.
    WaylandDesktop(std::unique_ptr<WaylandPasteboard> pasteboard, Workspace* xwaylandWorkspace,
                   KeySynth* xwaylandKeys);
    ~WaylandDesktop();
    WaylandDesktop(const WaylandDesktop&) = delete;
    WaylandDesktop& operator=(const WaylandDesktop&) = delete;

    Pasteboard& pasteboard() const;
    Workspace& workspace() const;
    KeySynth& keySynth() const;
    // Which protocol, paste path and window tracker it uses, for the log.
    QString description() const;

private:
    std::unique_ptr<WaylandPasteboard> m_pasteboard;
    std::unique_ptr<Workspace> m_xdgWorkspace; // only without XWayland
    std::unique_ptr<KeySynth> m_keys;          // the virtual keyboard, or one that says no
    KeySynth* m_keySynth = nullptr;            // m_keys, else XWayland's
    std::unique_ptr<WindowTracker> m_windows;  // may be null
    std::unique_ptr<Workspace> m_workspace;
    QString m_description;
};
