#pragma once

#include "platform/Workspace.h"

class WindowTracker;

// The workspace of a Wayland session. Wayland tells no client which window
// of another is in front, so that is known only where the compositor says
// (sway's IPC, KWin's scripting); elsewhere it is none, and copies have no
// source application. Keys synthesised through XWayland reach only X11
// windows, so we claim we can paste only where the compositor gave us a
// virtual keyboard. The rest (beeps, installed applications, links) goes
// through XWayland and XDG.
class WaylandWorkspace final : public Workspace {
public:
    // `windows` may be null.
    WaylandWorkspace(Workspace& xwayland, bool canPaste, WindowTracker* windows);

    std::optional<FrontmostApp> frontmost() override;
    bool activate(const FrontmostApp& app) override;
    bool isTrusted() const override { return m_canPaste; }
    bool openUrl(const QUrl& url) override { return m_xwayland.openUrl(url); }
    void beep() override { m_xwayland.beep(); }
    QList<InstalledApp> installedApps() override { return m_xwayland.installedApps(); }

private:
    Workspace& m_xwayland;
    bool m_canPaste;
    WindowTracker* m_windows;
};
