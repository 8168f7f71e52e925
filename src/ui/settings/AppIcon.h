#pragma once

#include <QIcon>
#include <QPalette>
#include <QString>

// The icon a desktop entry names (a theme name or a file path); the
// question-mark symbol when there is none to be found.
QIcon appIcon(const QString& icon, const QPalette& palette);
