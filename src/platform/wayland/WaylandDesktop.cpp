#include "platform/wayland/WaylandDesktop.h"

#include "platform/wayland/SwayWindowTracker.h"
#include "platform/wayland/WaylandPasteboard.h"
#include "platform/x11/X11Parts.h"
#include "platform/xdg/PortalHotKeyService.h"

#include <QDBusConnection>

using namespace Qt::StringLiterals;

WaylandDesktop::WaylandDesktop(std::unique_ptr<WaylandPasteboard> pasteboard,
                               std::unique_ptr<X11Parts> xwayland)
    : DataControlDesktop(std::move(pasteboard), std::move(xwayland)) {
    useVirtualKeyboard();
    std::unique_ptr<WindowTracker> windows = SwayWindowTracker::connect(QString());
    m_name = windows || protocolName().startsWith(u"zwlr_"_s) ? u"wlroots"_s : u"Wayland"_s;
    finish(std::move(windows), u"sway"_s, u"the compositor does not say which window is in front"_s,
           std::make_unique<PortalHotKeyService>(QDBusConnection::sessionBus()),
           u"shortcuts through the desktop portal"_s);
}

WaylandDesktop::~WaylandDesktop() = default;

QString WaylandDesktop::name() const {
    return m_name;
}
