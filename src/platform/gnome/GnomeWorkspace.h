#pragma once

#include "platform/Workspace.h"

class GnomeShellExtension;
class KeySynth;

// The workspace of a GNOME session on Wayland. Which window is in front,
// and bringing one back, is known through our Shell extension when it runs;
// without it only X11 windows are named (XWayland names its active window,
// and none while a Wayland one has the focus). The rest goes through
// XWayland and XDG. Pasting reaches X11 windows through XTest and the
// others through the portal, so whether it can paste depends on which
// window is in front and on what the user told the portal.
class GnomeWorkspace final : public Workspace {
public:
    // `portal` types into windows that are not X11 ones.
    GnomeWorkspace(Workspace& xwayland, GnomeShellExtension& extension, const KeySynth& portal);

    std::optional<FrontmostApp> frontmost() override;
    bool activate(const FrontmostApp& app) override;
    bool isTrusted() const override;
    bool seesFrontmost() const override;
    QString howToSeeFrontmost() const override;
    bool openUrl(const QUrl& url) override { return m_xwayland.openUrl(url); }
    void beep() override { m_xwayland.beep(); }
    QList<InstalledApp> installedApps() override { return m_xwayland.installedApps(); }

private:
    Workspace& m_xwayland;
    GnomeShellExtension& m_extension;
    const KeySynth& m_portal;
};
