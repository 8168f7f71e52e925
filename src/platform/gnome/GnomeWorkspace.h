#pragma once

#include "platform/Workspace.h"

class GnomeShellExtension;

// The workspace of a GNOME session on Wayland. Which window is in front,
// and bringing one back, is known through our Shell extension when it runs;
// without it only X11 windows are named (XWayland names its active window,
// and none while a Wayland one has the focus). The rest goes through
// XWayland and XDG.
class GnomeWorkspace final : public Workspace {
public:
    GnomeWorkspace(Workspace& xwayland, GnomeShellExtension& extension, bool canPaste);

    std::optional<FrontmostApp> frontmost() override;
    bool activate(const FrontmostApp& app) override;
    bool isTrusted() const override { return m_canPaste; }
    bool seesFrontmost() const override;
    bool openUrl(const QUrl& url) override { return m_xwayland.openUrl(url); }
    void beep() override { m_xwayland.beep(); }
    QList<InstalledApp> installedApps() override { return m_xwayland.installedApps(); }

private:
    Workspace& m_xwayland;
    GnomeShellExtension& m_extension;
    bool m_canPaste;
};
