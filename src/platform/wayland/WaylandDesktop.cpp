#include "platform/wayland/WaylandDesktop.h"

#include "platform/wayland/NoKeySynth.h"
#include "platform/wayland/NoPointerWatcher.h"
#include "platform/wayland/SwayWindowTracker.h"
#include "platform/wayland/WaylandKeySynth.h"
#include "platform/wayland/WaylandPasteboard.h"
#include "platform/wayland/WaylandWindowHints.h"
#include "platform/wayland/WaylandWorkspace.h"
#include "platform/x11/X11Parts.h"
#include "platform/x11/X11WindowHints.h"
#include "platform/xdg/PortalHotKeyService.h"
#include "platform/xdg/XdgWorkspace.h"

#include <QDBusConnection>
#include <QGuiApplication>

using namespace Qt::StringLiterals;

WaylandDesktop::WaylandDesktop(std::unique_ptr<WaylandPasteboard> pasteboard,
                               std::unique_ptr<X11Parts> xwayland)
    : m_pasteboard(std::move(pasteboard)), m_xwayland(std::move(xwayland)) {
    Workspace* xwaylandWorkspace = m_xwayland ? &m_xwayland->workspace() : nullptr;
    KeySynth* xwaylandKeys = m_xwayland ? &m_xwayland->keySynth() : nullptr;
    if (!xwaylandWorkspace) {
        m_xdgWorkspace = std::make_unique<XdgWorkspace>();
        xwaylandWorkspace = m_xdgWorkspace.get();
    }
    m_keys = WaylandKeySynth::connect(QString(), xwaylandKeys, &m_noPaste);
    // Without a virtual keyboard the workspace says it cannot paste; XWayland's
    // keys, which reach only X11 windows, are all there is.
    const bool canPaste = m_keys != nullptr;
    if (!canPaste && !xwaylandKeys)
        m_keys = std::make_unique<NoKeySynth>();
    m_keySynth = m_keys ? m_keys.get() : xwaylandKeys;

    m_windows = SwayWindowTracker::connect(QString());
    m_name = m_windows || m_pasteboard->protocolName().startsWith(u"zwlr_"_s) ? u"wlroots"_s
                                                                              : u"Wayland"_s;
    m_workspace = std::make_unique<WaylandWorkspace>(*xwaylandWorkspace, canPaste, m_windows.get());
    m_hotKeys = std::make_unique<PortalHotKeyService>(QDBusConnection::sessionBus());
    if (!m_xwayland)
        m_noPointer = std::make_unique<NoPointerWatcher>();
    // Our windows are X11 ones wherever Qt runs on XWayland.
    if (QGuiApplication::platformName() == u"xcb"_s)
        m_windowHints = std::make_unique<X11WindowHints>();
    else
        m_windowHints = std::make_unique<WaylandWindowHints>();

    const QString paste = canPaste ? u"pasting through the virtual keyboard"_s
                                   : u"no pasting ("_s + m_noPaste + u")"_s;
    m_description = u"clipboard through Wayland ("_s + m_pasteboard->protocolName() + u"); "_s +
                    paste + u"; "_s +
                    (m_windows ? u"window in front from sway"_s : u"window in front unknown"_s) +
                    (m_xwayland ? u"; windows of our own through XWayland"_s
                                : u"; no X11, so windows of our own are Wayland ones"_s) +
                    u"; shortcuts through the desktop portal"_s;
}

WaylandDesktop::~WaylandDesktop() = default;

QString WaylandDesktop::name() const {
    return m_name;
}
QString WaylandDesktop::description() const {
    return m_description;
}
Pasteboard& WaylandDesktop::pasteboard() {
    return *m_pasteboard;
}
Workspace& WaylandDesktop::workspace() {
    return *m_workspace;
}
KeySynth& WaylandDesktop::keySynth() {
    return *m_keySynth;
}
HotKeyService& WaylandDesktop::hotKeys() {
    return *m_hotKeys;
}
PointerWatcher& WaylandDesktop::pointer() {
    return m_xwayland ? m_xwayland->pointer() : *m_noPointer;
}
WindowHints& WaylandDesktop::windowHints() {
    return *m_windowHints;
}
quint32 WaylandDesktop::baseKeysym(quint32 keycode) const {
    return m_xwayland ? m_xwayland->baseKeysym(keycode) : 0;
}

Desktop::Capabilities WaylandDesktop::capabilities() {
    return capabilitiesOfParts(m_noPaste,
                               u"the compositor does not say which window is in front"_s);
}
