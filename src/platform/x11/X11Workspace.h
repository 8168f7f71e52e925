#pragma once

#include "platform/Workspace.h"
#include "platform/xdg/DesktopEntryIndex.h"

#include <QObject>

class XcbConnection;

// The EWMH view of the desktop: the active window (_NET_ACTIVE_WINDOW), what
// application it belongs to, and asking the window manager to activate one.
class X11Workspace final : public QObject, public Workspace {
    Q_OBJECT
public:
    // canSynthesize: whether key events can be synthesised (XTEST present).
    X11Workspace(XcbConnection& connection, bool canSynthesize, QObject* parent = nullptr);

    std::optional<FrontmostApp> frontmost() override;
    bool activate(const FrontmostApp& app) override;
    bool isTrusted() const override { return m_canSynthesize; }
    bool openUrl(const QUrl& url) override;
    void beep() override;
    QList<InstalledApp> installedApps() override;

private:
    bool isOurs(quint32 window, qint64 pid) const;

    XcbConnection& m_conn;
    bool m_canSynthesize = false;
    DesktopEntryIndex m_entries;
};
