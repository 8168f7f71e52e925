#include "platform/kde/KdeDesktop.h"

#include "platform/kde/KGlobalAccelHotKeyService.h"
#include "platform/kde/KdeKeySynth.h"
#include "platform/wayland/KWinWindowTracker.h"
#include "platform/wayland/NoKeySynth.h"
#include "platform/wayland/NoPointerWatcher.h"
#include "platform/wayland/WaylandKeySynth.h"
#include "platform/wayland/WaylandPasteboard.h"
#include "platform/wayland/WaylandWindowHints.h"
#include "platform/wayland/WaylandWorkspace.h"
#include "platform/x11/X11Parts.h"
#include "platform/x11/X11WindowHints.h"
#include "platform/xdg/PortalHotKeyService.h"
#include "platform/xdg/PortalRemoteDesktop.h"
#include "platform/xdg/XdgWorkspace.h"

#include <QDBusConnection>
#include <QGuiApplication>

using namespace Qt::StringLiterals;

KdeDesktop::KdeDesktop(std::unique_ptr<WaylandPasteboard> pasteboard,
                       std::unique_ptr<X11Parts> xwayland, SettingsStore* settings)
    : m_pasteboard(std::move(pasteboard)), m_xwayland(std::move(xwayland)) {
    choosePasting(settings);
    m_windows = KWinWindowTracker::connect(QDBusConnection::sessionBus());
    Workspace* base = m_xwayland ? &m_xwayland->workspace() : nullptr;
    if (!base) {
        m_xdgWorkspace = std::make_unique<XdgWorkspace>();
        base = m_xdgWorkspace.get();
    }
    m_workspace = std::make_unique<WaylandWorkspace>(*base, m_canPaste, m_windows.get());
    chooseShortcuts();
    if (!m_xwayland)
        m_noPointer = std::make_unique<NoPointerWatcher>();
    if (QGuiApplication::platformName() == u"xcb"_s)
        m_windowHints = std::make_unique<X11WindowHints>();
    else
        m_windowHints = std::make_unique<WaylandWindowHints>();
}

KdeDesktop::~KdeDesktop() = default;

// Pasting: how keys reach the window in front.
void KdeDesktop::choosePasting(SettingsStore* settings) {
    KeySynth* xwaylandKeys = m_xwayland ? &m_xwayland->keySynth() : nullptr;
    m_keys = WaylandKeySynth::connect(QString(), xwaylandKeys, &m_noPaste);
    m_canPaste = m_keys != nullptr;
    if (!m_canPaste && m_xwayland) {
        // KWin 5.27 lends no virtual keyboard: XTest reaches X11 windows, the
        // portal's remote control (once the user allows it) the others.
        m_portal = std::make_unique<PortalRemoteDesktop>(QDBusConnection::sessionBus(), settings);
        m_keys = std::make_unique<KdeKeySynth>(*xwaylandKeys, m_xwayland->workspace(), *m_portal);
        m_keySynth = m_keys.get();
        m_canPaste = true;
        m_pasting = u"pasting through XTest into X11 windows, through the desktop portal into "
                    "the others"_s;
        return;
    }
    if (!m_canPaste && !xwaylandKeys)
        m_keys = std::make_unique<NoKeySynth>();
    m_keySynth = m_keys ? m_keys.get() : xwaylandKeys;
    m_pasting = m_canPaste ? u"pasting through the virtual keyboard"_s
                           : u"no pasting ("_s + m_noPaste + u")"_s;
}

// Global shortcuts: where the desktop lets us bind keys.
void KdeDesktop::chooseShortcuts() {
    // KDE's own service lists ours in System Settings and binds them; the
    // portal is for a Plasma without it.
    QString why;
    m_hotKeys = KGlobalAccelHotKeyService::connect(QDBusConnection::sessionBus(), &why);
    if (m_hotKeys) {
        m_shortcuts = u"shortcuts through kglobalaccel"_s;
        return;
    }
    m_hotKeys = std::make_unique<PortalHotKeyService>(QDBusConnection::sessionBus());
    m_shortcuts = u"shortcuts through the desktop portal ("_s + why + u')';
}

QString KdeDesktop::name() const {
    return u"KDE Plasma"_s;
}
QString KdeDesktop::description() const {
    return u"clipboard through Wayland ("_s + m_pasteboard->protocolName() + u"); "_s + m_pasting +
           u"; "_s + (m_windows ? u"window in front from KWin"_s : u"window in front unknown"_s) +
           (m_xwayland ? u"; windows of our own through XWayland"_s
                       : u"; no X11, so windows of our own are Wayland ones"_s) +
           u"; "_s + m_shortcuts;
}
Pasteboard& KdeDesktop::pasteboard() {
    return *m_pasteboard;
}
Workspace& KdeDesktop::workspace() {
    return *m_workspace;
}
KeySynth& KdeDesktop::keySynth() {
    return *m_keySynth;
}
HotKeyService& KdeDesktop::hotKeys() {
    return *m_hotKeys;
}
PointerWatcher& KdeDesktop::pointer() {
    return m_xwayland ? m_xwayland->pointer() : *m_noPointer;
}
WindowHints& KdeDesktop::windowHints() {
    return *m_windowHints;
}
quint32 KdeDesktop::baseKeysym(quint32 keycode) const {
    return m_xwayland ? m_xwayland->baseKeysym(keycode) : 0;
}

Desktop::Capabilities KdeDesktop::capabilities() {
    return capabilitiesOfParts(m_noPaste, u"KWin did not load our window script"_s);
}
