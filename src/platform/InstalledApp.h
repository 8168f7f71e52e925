#pragma once

#include <QString>

// One installed application, for choosing applications to ignore.
struct InstalledApp {
    QString id; // the identifier FrontmostApp::appId reports for it
    QString name;
    QString icon; // icon name or path, as the desktop entry gives it

    bool operator==(const InstalledApp&) const = default;
};
