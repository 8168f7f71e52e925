#include "platform/wayland/DataControlDesktop.h"

#include "platform/PointerWatcher.h"
#include "platform/WindowHints.h"
#include "platform/wayland/NoKeySynth.h"
#include "platform/wayland/NoPointerWatcher.h"
#include "platform/wayland/WaylandKeySynth.h"
#include "platform/wayland/WaylandPasteboard.h"
#include "platform/wayland/WaylandWindowHints.h"
#include "platform/wayland/WaylandWorkspace.h"
#include "platform/wayland/WindowTracker.h"
#include "platform/x11/X11Parts.h"
#include "platform/x11/X11WindowHints.h"
#include "platform/xdg/XdgWorkspace.h"

#include <QGuiApplication>
#include <QStringList>

using namespace Qt::StringLiterals;

DataControlDesktop::DataControlDesktop(std::unique_ptr<WaylandPasteboard> pasteboard,
                                       std::unique_ptr<X11Parts> xwayland)
    : m_pasteboard(std::move(pasteboard)), m_xwayland(std::move(xwayland)) {
    if (!m_xwayland) {
        m_xdgWorkspace = std::make_unique<XdgWorkspace>();
        m_noPointer = std::make_unique<NoPointerWatcher>();
    }
    // Our windows are X11 ones wherever Qt runs on XWayland.
    if (QGuiApplication::platformName() == u"xcb"_s)
        m_windowHints = std::make_unique<X11WindowHints>();
    else
        m_windowHints = std::make_unique<WaylandWindowHints>();
}

DataControlDesktop::~DataControlDesktop() = default;

QString DataControlDesktop::protocolName() const {
    return m_pasteboard->protocolName();
}

bool DataControlDesktop::useVirtualKeyboard() {
    KeySynth* xwaylandKeys = m_xwayland ? &m_xwayland->keySynth() : nullptr;
    m_keys = WaylandKeySynth::connect(QString(), xwaylandKeys, &m_noPaste);
    m_canPaste = m_keys != nullptr;
    if (!m_canPaste && !xwaylandKeys)
        m_keys = std::make_unique<NoKeySynth>();
    m_keySynth = m_keys ? m_keys.get() : xwaylandKeys;
    m_pasting = m_canPaste ? u"pasting through the virtual keyboard"_s : QString();
    return m_canPaste;
}

void DataControlDesktop::pasteThrough(std::unique_ptr<KeySynth> keys, const QString& how,
                                      std::unique_ptr<KeySynth> helper) {
    m_keys = std::move(keys);
    m_keysHelper = std::move(helper);
    m_keySynth = m_keys.get();
    m_canPaste = true;
    m_pasting = how;
}

void DataControlDesktop::finish(std::unique_ptr<WindowTracker> windows, const QString& windowsFrom,
                                const QString& noWindows, std::unique_ptr<HotKeyService> hotKeys,
                                const QString& shortcuts) {
    m_windows = std::move(windows);
    m_windowsFrom = windowsFrom;
    m_noWindows = noWindows;
    Workspace& base = m_xwayland ? m_xwayland->workspace() : *m_xdgWorkspace;
    m_workspace = std::make_unique<WaylandWorkspace>(base, m_canPaste, m_windows.get());
    m_hotKeys = std::move(hotKeys);
    m_shortcuts = shortcuts;
}

// What it cannot do, the probe adds from capabilities().
QString DataControlDesktop::description() const {
    QStringList parts{u"clipboard through Wayland ("_s + protocolName() + u')'};
    if (m_canPaste)
        parts << m_pasting;
    if (m_windows)
        parts << u"window in front from "_s + m_windowsFrom;
    parts << (m_xwayland ? u"windows of our own through XWayland"_s
                         : u"no X11, so windows of our own are Wayland ones"_s)
          << m_shortcuts;
    return parts.join(u"; "_s);
}
Pasteboard& DataControlDesktop::pasteboard() {
    return *m_pasteboard;
}
Workspace& DataControlDesktop::workspace() {
    return *m_workspace;
}
KeySynth& DataControlDesktop::keySynth() {
    return *m_keySynth;
}
HotKeyService& DataControlDesktop::hotKeys() {
    return *m_hotKeys;
}
PointerWatcher& DataControlDesktop::pointer() {
    return m_xwayland ? m_xwayland->pointer() : *m_noPointer;
}
WindowHints& DataControlDesktop::windowHints() {
    return *m_windowHints;
}
quint32 DataControlDesktop::baseKeysym(quint32 keycode) const {
    return m_xwayland ? m_xwayland->baseKeysym(keycode) : 0;
}

Desktop::Capabilities DataControlDesktop::capabilities() {
    return capabilitiesOfParts(m_noPaste, m_noWindows);
}
