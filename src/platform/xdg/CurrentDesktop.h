#pragma once

#include <QString>

// The desktop the session says it is (XDG_CURRENT_DESKTOP, a colon-separated
// list such as "KDE" or "ubuntu:GNOME").
namespace CurrentDesktop {
// Whether `name` is in that list, whatever its case.
bool is(const QString& name);
} // namespace CurrentDesktop
