#include "platform/desktop/DesktopProbe.h"

#include "core/util/Log.h"
#include "platform/gnome/GnomeDesktop.h"
#include "platform/kde/KdeDesktop.h"
#include "platform/wayland/WaylandClient.h"
#include "platform/wayland/WaylandDesktop.h"
#include "platform/wayland/WaylandPasteboard.h"
#include "platform/x11/X11Desktop.h"
#include "platform/x11/X11Parts.h"
#include "platform/xdg/CurrentDesktop.h"

using namespace Qt::StringLiterals;

std::unique_ptr<Desktop> DesktopProbe::open(SettingsStore* settings) {
    QString why;
    std::unique_ptr<Desktop> desktop;
    if (auto clipboard = WaylandPasteboard::connect(QString(), &why)) {
        // XWayland, when there, without its clipboard: that is Wayland's.
        auto xwayland = X11Parts::open(/*withPasteboard=*/false);
        if (CurrentDesktop::is(u"KDE"_s))
            desktop =
                std::make_unique<KdeDesktop>(std::move(clipboard), std::move(xwayland), settings);
        else
            desktop = std::make_unique<WaylandDesktop>(std::move(clipboard), std::move(xwayland));
    } else if (CurrentDesktop::is(u"GNOME"_s) && WaylandClient::reachable(QString())) {
        desktop = GnomeDesktop::open(settings);
    }
    if (!desktop)
        desktop = X11Desktop::open(why);
    if (!desktop)
        return nullptr;
    QString line = u"Tindrel: "_s + desktop->description();
    const Desktop::Capabilities can = desktop->capabilities();
    for (const auto& [capability, missing] :
         {std::pair{can.shortcuts, u"no global shortcuts"_s}, std::pair{can.paste, u"no pasting"_s},
          std::pair{can.frontmost, u"app in front unknown"_s}})
        if (!capability.given)
            line += u"; "_s + missing +
                    (capability.why.isEmpty() ? QString() : u" ("_s + capability.why + u')');
    Log::write(line + u"; desktop: "_s + desktop->name());
    return desktop;
}
