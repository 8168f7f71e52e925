#pragma once

#include <QString>
#include <QtGlobal>

// The application whose window is active, as the workspace reports it.
struct FrontmostApp {
    // Platform window handle; "frontmost" is compared by window, not by process.
    quint64 window = 0;
    // 0 when the window does not say.
    qint64 pid = 0;
    // Application identifier (desktop-entry id, else the window class); may be empty.
    QString appId;
    // Human-readable name (the window title when nothing better is known).
    QString name;
    // The window's class and instance names, which pick the paste chord.
    QString windowClass;
    QString windowInstance;
    // The window belongs to this program.
    bool isOwnProcess = false;

    bool operator==(const FrontmostApp&) const = default;
};
