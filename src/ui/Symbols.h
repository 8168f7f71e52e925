#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

// The program's own symbol pictures (resources/icons), named after the symbol
// they stand for ("pin", "doc.on.clipboard.fill"). They are drawn in black and
// tinted to whatever colour the place that shows them needs.
namespace Symbols {
bool exists(const QString& name);
// The picture in one colour, `size` logical pixels square.
QPixmap tinted(const QString& name, const QColor& color, int size, qreal devicePixelRatio = 1.0);
QIcon tintedIcon(const QString& name, const QColor& color, int size);
// For a tray of unknown colour: a light picture with a dark rim, so it reads
// on dark and light panels alike; `dimmed` shows it faded.
QIcon trayIcon(const QString& name, bool dimmed);
// The application's own colourful icon.
QIcon applicationIcon();
} // namespace Symbols
