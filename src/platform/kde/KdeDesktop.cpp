#include "platform/kde/KdeDesktop.h"

#include "platform/kde/KGlobalAccelHotKeyService.h"
#include "platform/wayland/KWinWindowTracker.h"
#include "platform/wayland/SplitKeySynth.h"
#include "platform/wayland/WaylandPasteboard.h"
#include "platform/x11/X11Parts.h"
#include "platform/xdg/PortalHotKeyService.h"
#include "platform/xdg/PortalRemoteDesktop.h"

#include <QDBusConnection>

using namespace Qt::StringLiterals;

KdeDesktop::KdeDesktop(std::unique_ptr<WaylandPasteboard> pasteboard,
                       std::unique_ptr<X11Parts> xwayland, SettingsStore* settings)
    : DataControlDesktop(std::move(pasteboard), std::move(xwayland)) {
    choosePasting(settings);
    // KDE's own service lists ours in System Settings and binds them; the
    // portal is for a Plasma without it.
    QString why;
    std::unique_ptr<HotKeyService> hotKeys =
        KGlobalAccelHotKeyService::connect(QDBusConnection::sessionBus(), &why);
    const QString shortcuts = hotKeys ? u"shortcuts through kglobalaccel"_s
                                      : u"shortcuts through the desktop portal ("_s + why + u')';
    if (!hotKeys)
        hotKeys = std::make_unique<PortalHotKeyService>(QDBusConnection::sessionBus());
    finish(KWinWindowTracker::connect(QDBusConnection::sessionBus()), u"KWin"_s,
           u"KWin did not load our window script"_s, std::move(hotKeys), shortcuts);
}

KdeDesktop::~KdeDesktop() = default;

void KdeDesktop::choosePasting(SettingsStore* settings) {
    if (useVirtualKeyboard() || !xwayland())
        return;
    // KWin 5.27 lends no virtual keyboard: XTest reaches X11 windows, the
    // portal's remote control (once the user allows it) the others.
    auto portal = std::make_unique<PortalRemoteDesktop>(QDBusConnection::sessionBus(), settings);
    auto keys =
        std::make_unique<SplitKeySynth>(xwayland()->keySynth(), xwayland()->workspace(), *portal);
    pasteThrough(std::move(keys),
                 u"pasting through XTest into X11 windows, through the desktop portal into the "
                 "others"_s,
                 std::move(portal));
}

QString KdeDesktop::name() const {
    return u"KDE Plasma"_s;
}
