#pragma once

#include <QtGlobal>
#include <memory>

class HotKeyService;
class KeySynth;
class Pasteboard;
class PointerWatcher;
class Workspace;
class XcbConnection;
class XcbKeyboard;
class X11HotKeyService;
class X11KeySynth;
class X11Pasteboard;
class X11PointerWatcher;
class X11Workspace;

// The X11 implementations of the desktop interfaces, sharing one connection
// of our own: the key synthesiser can only end the keyboard grab a held
// shortcut key gives the hot-key service because it is the same client.
// open() gives none when there is no X server to talk to (for example a
// Wayland session without XWayland).
class X11Parts final {
public:
    // The pasteboard needs a QGuiApplication on the xcb platform (open fails
    // without one); with withPasteboard false the rest works without it.
    static std::unique_ptr<X11Parts> open(bool withPasteboard = true);
    ~X11Parts();
    X11Parts(const X11Parts&) = delete;
    X11Parts& operator=(const X11Parts&) = delete;

    Pasteboard* pasteboard() const; // null when opened without it
    Workspace& workspace() const;
    KeySynth& keySynth() const;
    HotKeyService& hotKeys() const;
    PointerWatcher& pointer() const;
    // The keysym printed on the key with this X key code, whatever Shift
    // makes of it; 0 when the keyboard does not know it.
    quint32 baseKeysym(quint32 keycode) const;

private:
    X11Parts();

    // Declared in build order; they go in reverse, the connection last.
    std::unique_ptr<XcbConnection> m_conn;
    std::unique_ptr<XcbKeyboard> m_keyboard;
    std::unique_ptr<X11KeySynth> m_keySynth;
    std::unique_ptr<X11Workspace> m_workspace;
    std::unique_ptr<X11HotKeyService> m_hotKeys;
    std::unique_ptr<X11PointerWatcher> m_pointer;
    std::unique_ptr<X11Pasteboard> m_pasteboard;
};
