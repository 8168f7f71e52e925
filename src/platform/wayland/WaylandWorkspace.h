#pragma once

#include "platform/Workspace.h"

// The workspace of a Wayland session as XWayland shows it: applications and
// windows come from the X11 side. Keys synthesised there reach only X11
// clients, so we claim we can paste only where the compositor gave us a
// virtual keyboard.
class WaylandWorkspace final : public Workspace {
public:
    WaylandWorkspace(Workspace& xwayland, bool canPaste)
        : m_xwayland(xwayland), m_canPaste(canPaste) {}

    std::optional<FrontmostApp> frontmost() override { return m_xwayland.frontmost(); }
    bool activate(const FrontmostApp& app) override { return m_xwayland.activate(app); }
    bool isTrusted() const override { return m_canPaste; }
    bool openUrl(const QUrl& url) override { return m_xwayland.openUrl(url); }
    void beep() override { m_xwayland.beep(); }
    QList<InstalledApp> installedApps() override { return m_xwayland.installedApps(); }

private:
    Workspace& m_xwayland;
    bool m_canPaste;
};
