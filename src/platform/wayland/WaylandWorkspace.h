#pragma once

#include "platform/Workspace.h"

// The workspace of a Wayland session as XWayland shows it: applications and
// windows come from the X11 side, but keys synthesised there reach only X11
// clients, so we do not claim we can paste into the others.
class WaylandWorkspace final : public Workspace {
public:
    explicit WaylandWorkspace(Workspace& xwayland) : m_xwayland(xwayland) {}

    std::optional<FrontmostApp> frontmost() override { return m_xwayland.frontmost(); }
    bool activate(const FrontmostApp& app) override { return m_xwayland.activate(app); }
    bool isTrusted() const override { return false; }
    // XWayland knows only its own windows: a native one in front goes unseen.
    bool seesFrontmost() const override { return false; }
    bool openUrl(const QUrl& url) override { return m_xwayland.openUrl(url); }
    void beep() override { m_xwayland.beep(); }
    QList<InstalledApp> installedApps() override { return m_xwayland.installedApps(); }

private:
    Workspace& m_xwayland;
};
