#include "platform/x11/X11Desktop.h"

#include "platform/wayland/WaylandClient.h"
#include "platform/x11/X11Parts.h"
#include "platform/x11/X11WindowHints.h"
#include "platform/xdg/PortalHotKeyService.h"

#include <QDBusConnection>

using namespace Qt::StringLiterals;

std::unique_ptr<X11Desktop> X11Desktop::open(const QString& why) {
    auto parts = X11Parts::open();
    if (!parts || !parts->pasteboard())
        return nullptr;
    return std::unique_ptr<X11Desktop>(new X11Desktop(std::move(parts), why));
}

X11Desktop::X11Desktop(std::unique_ptr<X11Parts> parts, const QString& why)
    : m_parts(std::move(parts)), m_windowHints(std::make_unique<X11WindowHints>()) {
    m_description = u"clipboard through X11 ("_s + why + u")"_s;
    if (WaylandClient::reachable(QString())) {
        m_portalHotKeys = std::make_unique<PortalHotKeyService>(QDBusConnection::sessionBus());
        m_description += u"; shortcuts through the desktop portal"_s;
    }
}

X11Desktop::~X11Desktop() = default;

QString X11Desktop::name() const {
    return u"X11"_s;
}
QString X11Desktop::description() const {
    return m_description;
}
Pasteboard& X11Desktop::pasteboard() {
    return *m_parts->pasteboard();
}
Workspace& X11Desktop::workspace() {
    return m_parts->workspace();
}
KeySynth& X11Desktop::keySynth() {
    return m_parts->keySynth();
}
HotKeyService& X11Desktop::hotKeys() {
    return m_portalHotKeys ? *m_portalHotKeys : m_parts->hotKeys();
}
PointerWatcher& X11Desktop::pointer() {
    return m_parts->pointer();
}
WindowHints& X11Desktop::windowHints() {
    return *m_windowHints;
}
quint32 X11Desktop::baseKeysym(quint32 keycode) const {
    return m_parts->baseKeysym(keycode);
}

Desktop::Capabilities X11Desktop::capabilities() {
    return capabilitiesOfParts(u"the X server refuses synthesised keys (no XTest)"_s,
                               u"the window manager does not say which window is active"_s);
}
