#pragma once

#include "platform/Desktop.h"

#include <memory>

class X11Parts;

// An X11 session (Xfce, Cinnamon, MATE, i3, KDE or GNOME on X11), or a
// Wayland session whose compositor offers no data-control, where XWayland's
// clipboard is all there is. Everything comes from the X server; in a
// Wayland session an X grab sees keys only while an XWayland window has the
// keyboard, so there the portal binds the shortcuts.
class X11Desktop final : public Desktop {
public:
    // None without an X server, or when Qt does not run on it (the
    // pasteboard needs Qt's X11 clipboard). `why` says why Wayland's
    // clipboard is not used, for the log.
    static std::unique_ptr<X11Desktop> open(const QString& why);
    ~X11Desktop() override;

    QString name() const override;
    QString description() const override;
    Pasteboard& pasteboard() override;
    Workspace& workspace() override;
    KeySynth& keySynth() override;
    HotKeyService& hotKeys() override;
    PointerWatcher& pointer() override;
    WindowHints& windowHints() override;
    quint32 baseKeysym(quint32 keycode) const override;
    bool knowsBaseKeysyms() const override { return true; }
    Capabilities capabilities() override;

private:
    X11Desktop(std::unique_ptr<X11Parts> parts, const QString& why);

    std::unique_ptr<X11Parts> m_parts;
    std::unique_ptr<WindowHints> m_windowHints;
    std::unique_ptr<HotKeyService> m_portalHotKeys; // in a Wayland session
    QString m_description;
};
