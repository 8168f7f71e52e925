#include "platform/wayland/WaylandDesktop.h"

#include "platform/wayland/KWinWindowTracker.h"
#include "platform/wayland/NoKeySynth.h"
#include "platform/wayland/SwayWindowTracker.h"
#include "platform/wayland/WaylandKeySynth.h"
#include "platform/wayland/WaylandPasteboard.h"
#include "platform/wayland/WaylandWorkspace.h"
#include "platform/xdg/XdgWorkspace.h"

#include <QDBusConnection>

using namespace Qt::StringLiterals;

WaylandDesktop::WaylandDesktop(std::unique_ptr<WaylandPasteboard> pasteboard,
                               Workspace* xwaylandWorkspace, KeySynth* xwaylandKeys)
    : m_pasteboard(std::move(pasteboard)) {
    if (!xwaylandWorkspace) {
        m_xdgWorkspace = std::make_unique<XdgWorkspace>();
        xwaylandWorkspace = m_xdgWorkspace.get();
    }
    QString noKeys;
    m_keys = WaylandKeySynth::connect(QString(), xwaylandKeys, &noKeys);
    // Without a virtual keyboard the workspace says it cannot paste; XWayland's
    // keys, which reach only X11 windows, are all there is.
    const bool canPaste = m_keys != nullptr;
    if (!canPaste && !xwaylandKeys)
        m_keys = std::make_unique<NoKeySynth>();
    m_keySynth = m_keys ? m_keys.get() : xwaylandKeys;

    QString front = u"window in front from sway"_s;
    m_windows = SwayWindowTracker::connect(QString());
    if (!m_windows) {
        m_windows = KWinWindowTracker::connect(QDBusConnection::sessionBus());
        front = m_windows ? u"window in front from KWin"_s : u"window in front unknown"_s;
    }
    m_workspace = std::make_unique<WaylandWorkspace>(*xwaylandWorkspace, canPaste, m_windows.get());

    const QString paste =
        canPaste ? u"pasting through the virtual keyboard"_s : u"no pasting ("_s + noKeys + u")"_s;
    m_description = u"clipboard through Wayland ("_s + m_pasteboard->protocolName() + u"); "_s +
                    paste + u"; "_s + front;
}

WaylandDesktop::~WaylandDesktop() = default;

Pasteboard& WaylandDesktop::pasteboard() const {
    return *m_pasteboard;
}
Workspace& WaylandDesktop::workspace() const {
    return *m_workspace;
}
KeySynth& WaylandDesktop::keySynth() const {
    return *m_keySynth;
}
QString WaylandDesktop::description() const {
    return m_description;
}
