#pragma once

#include "core/prefs/AppTheme.h"

#include <QColor>
#include <QPalette>
#include <QString>

// The application's look for the theme setting. Qt has no colour-scheme
// switch, so "system" goes back to the style and palette the desktop gave
// us at start, and "light" and "dark" use Fusion with a light or dark palette.
namespace Theme {
struct SystemLook {
    QString style;
    QPalette palette;
};
// The look as the desktop set it up; call before any theme is applied.
SystemLook capture();
void apply(AppTheme theme, const SystemLook& system);
QPalette darkPalette();
// The green that marks a device or a service as connected, in both themes.
QColor connectedGreen();
} // namespace Theme
