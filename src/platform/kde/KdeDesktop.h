#pragma once

#include "platform/Desktop.h"

#include <QString>
#include <memory>

class PortalRemoteDesktop;
class SettingsStore;
class WaylandPasteboard;
class WindowTracker;
class X11Parts;

// KDE Plasma on Wayland. KWin offers data-control, so the clipboard comes
// from there; the window in front from KWin's scripting; global shortcuts
// through KDE's own kglobalaccel, as KDE's programs register them (the
// portal on Plasma 5.27 answers without binding anything); pasting through
// XWayland's XTest into X11 windows and through the desktop portal's remote
// control, once the user allows it, into the others. XWayland, when there, also lends its
// workspace and pointer.
class KdeDesktop final : public Desktop {
public:
    // `xwayland` may be null: Plasma without XWayland. `settings` (may be
    // null) keeps the portal's grant to paste where it can be kept.
    KdeDesktop(std::unique_ptr<WaylandPasteboard> pasteboard, std::unique_ptr<X11Parts> xwayland,
               SettingsStore* settings = nullptr);
    ~KdeDesktop() override;
    KdeDesktop(const KdeDesktop&) = delete;
    KdeDesktop& operator=(const KdeDesktop&) = delete;

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
    void choosePasting(SettingsStore* settings);
    void chooseShortcuts();

    std::unique_ptr<WaylandPasteboard> m_pasteboard;
    std::unique_ptr<X11Parts> m_xwayland;          // may be null
    std::unique_ptr<Workspace> m_xdgWorkspace;     // only without XWayland
    std::unique_ptr<PortalRemoteDesktop> m_portal; // types into Wayland windows
    std::unique_ptr<KeySynth> m_keys;
    KeySynth* m_keySynth = nullptr; // m_keys, else XWayland's
    bool m_canPaste = false;
    std::unique_ptr<WindowTracker> m_windows; // may be null
    std::unique_ptr<Workspace> m_workspace;
    std::unique_ptr<HotKeyService> m_hotKeys;
    std::unique_ptr<PointerWatcher> m_noPointer; // only without XWayland
    std::unique_ptr<WindowHints> m_windowHints;
    QString m_noPaste;
    QString m_pasting;
    QString m_shortcuts;
};
