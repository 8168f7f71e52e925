#include "platform/x11/X11Parts.h"

#include "platform/x11/X11HotKeyService.h"
#include "platform/x11/X11KeySynth.h"
#include "platform/x11/X11Pasteboard.h"
#include "platform/x11/X11PointerWatcher.h"
#include "platform/x11/X11Workspace.h"
#include "platform/x11/XcbConnection.h"
#include "platform/x11/XcbKeyboard.h"
#include "platform/x11/XcbSelectionReader.h"

#include <QGuiApplication>

X11Parts::X11Parts() = default;
X11Parts::~X11Parts() = default;

std::unique_ptr<X11Parts> X11Parts::open(bool withPasteboard) {
    std::unique_ptr<X11Parts> desktop(new X11Parts);
    desktop->m_conn = std::make_unique<XcbConnection>();
    if (!desktop->m_conn->isValid())
        return nullptr;
    XcbConnection& conn = *desktop->m_conn;
    desktop->m_keyboard = std::make_unique<XcbKeyboard>(conn);
    desktop->m_keySynth = std::make_unique<X11KeySynth>(conn, *desktop->m_keyboard);
    desktop->m_workspace = std::make_unique<X11Workspace>(conn, desktop->m_keySynth->isAvailable());
    desktop->m_hotKeys = std::make_unique<X11HotKeyService>(conn, *desktop->m_keyboard);
    desktop->m_pointer = std::make_unique<X11PointerWatcher>(conn);
    if (withPasteboard) {
        // QClipboard must be Qt's X11 one, or the change count means nothing.
        if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()) ||
            QGuiApplication::platformName() != QLatin1String("xcb"))
            return nullptr;
        auto reader = std::make_unique<XcbSelectionReader>();
        if (!reader->isValid())
            return nullptr;
        desktop->m_pasteboard = std::make_unique<X11Pasteboard>(std::move(reader));
    }
    return desktop;
}

Pasteboard* X11Parts::pasteboard() const {
    return m_pasteboard.get();
}
quint32 X11Parts::baseKeysym(quint32 keycode) const {
    return keycode <= 255 ? m_keyboard->baseKeysym(xcb_keycode_t(keycode)) : 0;
}

Workspace& X11Parts::workspace() const {
    return *m_workspace;
}
KeySynth& X11Parts::keySynth() const {
    return *m_keySynth;
}
HotKeyService& X11Parts::hotKeys() const {
    return *m_hotKeys;
}
PointerWatcher& X11Parts::pointer() const {
    return *m_pointer;
}
