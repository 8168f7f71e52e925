#pragma once

#include "platform/Desktop.h"

#include <QString>
#include <memory>

class WaylandPasteboard;
class WindowTracker;
class X11Parts;

// A Wayland session whose compositor offers data-control, other than KDE
// Plasma: wlroots compositors such as sway, and any other as a fallback. The
// clipboard through data-control, pasting through the virtual keyboard where
// there is one, the window in front from sway's IPC where it runs, shortcuts
// through the desktop portal. XWayland, when there, lends its workspace and
// pointer and tells whether modifiers are held; without it the freedesktop
// workspace stands in.
class WaylandDesktop final : public Desktop {
public:
    // `xwayland` may be null: no X server in this session.
    WaylandDesktop(std::unique_ptr<WaylandPasteboard> pasteboard,
                   std::unique_ptr<X11Parts> xwayland);
    ~WaylandDesktop() override;
    WaylandDesktop(const WaylandDesktop&) = delete;
    WaylandDesktop& operator=(const WaylandDesktop&) = delete;

    QString name() const override;
    QString description() const override;
    Pasteboard& pasteboard() override;
    Workspace& workspace() override;
    KeySynth& keySynth() override;
    HotKeyService& hotKeys() override;
    PointerWatcher& pointer() override;
    WindowHints& windowHints() override;
    quint32 baseKeysym(quint32 keycode) const override;
    bool knowsBaseKeysyms() const override { return m_xwayland != nullptr; }
    Capabilities capabilities() override;

private:
    std::unique_ptr<WaylandPasteboard> m_pasteboard;
    std::unique_ptr<X11Parts> m_xwayland;      // may be null
    std::unique_ptr<Workspace> m_xdgWorkspace; // only without XWayland
    std::unique_ptr<KeySynth> m_keys;          // the virtual keyboard, or one that says no
    KeySynth* m_keySynth = nullptr;            // m_keys, else XWayland's
    std::unique_ptr<WindowTracker> m_windows;  // may be null
    std::unique_ptr<Workspace> m_workspace;
    std::unique_ptr<HotKeyService> m_hotKeys;
    std::unique_ptr<PointerWatcher> m_noPointer; // only without XWayland
    std::unique_ptr<WindowHints> m_windowHints;
    QString m_name;
    QString m_noPaste;
    QString m_description;
};
