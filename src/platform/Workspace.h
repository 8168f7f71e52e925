#pragma once

#include "platform/FrontmostApp.h"
#include "platform/InstalledApp.h"

#include <QList>
#include <QUrl>
#include <optional>

// The desktop around us: which application is in front, bringing one back,
// and whether we may type into other applications.
class Workspace {
public:
    virtual ~Workspace() = default;

    // The application with the active window; none when no window is active.
    virtual std::optional<FrontmostApp> frontmost() = 0;
    // Asks the desktop to activate the application's window; false when the
    // request could not be made.
    virtual bool activate(const FrontmostApp& app) = 0;
    // Whether synthesised key events reach other applications in this session.
    virtual bool isTrusted() const = 0;
    // Whether frontmost() can name the application in front at all; under
    // Wayland only the compositor knows, and most do not tell.
    virtual bool seesFrontmost() const { return true; }
    // When it does not: what would let it (an extension to turn on, say),
    // in words for the settings; empty when nothing would.
    virtual QString howToSeeFrontmost() const { return {}; }
    virtual bool openUrl(const QUrl& url) = 0;
    // The system alert sound.
    virtual void beep() = 0;
    // Applications installed for this user, sorted by name.
    virtual QList<InstalledApp> installedApps() = 0;
};
