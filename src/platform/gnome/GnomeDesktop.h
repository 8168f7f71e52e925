#pragma once

#include "platform/Desktop.h"

#include <memory>

class GnomeShellExtension;
class GnomeShellHotKeyService;
class KeySynth;
class SettingsStore;
class X11Parts;

// GNOME on Wayland. Mutter lends no data-control, so the clipboard is
// XWayland's (mutter keeps it in step with Wayland's); global shortcuts
// and the window in front come from our GNOME Shell extension when it is
// turned on; pasting goes through XWayland's XTest into X11 windows and
// through the desktop portal's remote control, once the user allows it,
// into the others.
class GnomeDesktop final : public Desktop {
public:
    // None without XWayland or when Qt does not run on it (the clipboard is
    // XWayland's). `settings` (may be null) keeps the portal's grant where
    // it can be kept.
    static std::unique_ptr<GnomeDesktop> open(SettingsStore* settings);
    ~GnomeDesktop() override;

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
    bool showsOurIcon() const override;
    void useBusConnection(const QDBusConnection& bus, const QString& ourName) override;

private:
    GnomeDesktop(std::unique_ptr<X11Parts> parts, SettingsStore* settings);

    std::unique_ptr<X11Parts> m_parts;
    std::unique_ptr<GnomeShellExtension> m_extension;
    std::unique_ptr<KeySynth> m_portal;
    std::unique_ptr<KeySynth> m_keys; // uses m_portal
    std::unique_ptr<Workspace> m_workspace;
    std::unique_ptr<GnomeShellHotKeyService> m_hotKeys;
    std::unique_ptr<WindowHints> m_windowHints;
};
