#pragma once

#include "platform/Workspace.h"
#include "platform/xdg/DesktopEntryIndex.h"

// The workspace where we see no window system of our own, as in a Wayland
// session without XWayland: the installed applications and opening links
// still work; which application is in front, bringing one back and typing
// into it do not.
class XdgWorkspace final : public Workspace {
public:
    std::optional<FrontmostApp> frontmost() override { return std::nullopt; }
    bool activate(const FrontmostApp&) override { return false; }
    bool isTrusted() const override { return false; }
    bool seesFrontmost() const override { return false; }
    bool openUrl(const QUrl& url) override;
    // No bell a client may ring here.
    void beep() override {}
    QList<InstalledApp> installedApps() override { return m_entries.apps(); }

private:
    DesktopEntryIndex m_entries;
};
