#pragma once

#include "platform/wayland/SplitKeySynth.h"
#include "platform/x11/X11Parts.h"
#include "platform/xdg/PortalRemoteDesktop.h"
#include "support/MemorySettingsStore.h"

#include <QDBusConnection>
#include <gtest/gtest.h>
#include <memory>

// The key router as the KDE and GNOME desktops build it (XTest through
// XWayland into X11 windows, the desktop portal's remote control into the
// others), on a bus connection of the test's own to a desktop session's bus.
// For tests that link the platform library; mixed into their fixture.
class SessionKeyRouter {
protected:
    // Builds it on a connection named `name`; a failed assertion when the
    // bus or XWayland is not there.
    void buildKeyRouter(const QString& busAddress, const QString& x11Display, const QString& name) {
        m_name = name;
        bus = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(busAddress, name));
        ASSERT_TRUE(bus->isConnected());
        xwayland = X11Parts::open(/*withPasteboard=*/false);
        ASSERT_TRUE(xwayland) << "no XWayland on " << x11Display.toStdString();
        portal = std::make_unique<PortalRemoteDesktop>(*bus, &settings);
        keys =
            std::make_unique<SplitKeySynth>(xwayland->keySynth(), xwayland->workspace(), *portal);
    }
    // The router goes before the connection it talks over.
    void dropKeyRouter() {
        keys.reset();
        portal.reset();
        xwayland.reset();
        bus.reset();
        if (!m_name.isEmpty())
            QDBusConnection::disconnectFromBus(m_name);
    }

    MemorySettingsStore settings;
    std::unique_ptr<QDBusConnection> bus;
    std::unique_ptr<X11Parts> xwayland;
    std::unique_ptr<PortalRemoteDesktop> portal;
    std::unique_ptr<SplitKeySynth> keys;

private:
    QString m_name;
};
