#include "ui/settings/AppIcon.h"

#include "ui/Symbols.h"

#include <QFileInfo>

using namespace Qt::StringLiterals;

QIcon appIcon(const QString& icon, const QPalette& palette) {
    QIcon found;
    if (QFileInfo(icon).isAbsolute())
        found = QIcon(icon);
    else if (!icon.isEmpty())
        found = QIcon::fromTheme(icon);
    if (!found.isNull() && !found.availableSizes().isEmpty())
        return found;
    if (!found.isNull() && !found.pixmap(16).isNull())
        return found;
    return Symbols::tintedIcon(u"questionmark.app"_s, palette.color(QPalette::Text), 16);
}
