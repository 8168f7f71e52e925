#include "ui/Symbols.h"

#include <QFile>
#include <QPainter>
#include <QPixmapCache>

using namespace Qt::StringLiterals;

// The resource registration must be declared outside any namespace; the
// library is static, so nothing registers it unless we do.
static int registerTindrelResources() {
    Q_INIT_RESOURCE(tindrel);
    return 0;
}

namespace {
void ensureResources() {
    static const int registered = registerTindrelResources();
    (void)registered;
}

QString pathOf(const QString& name) {
    return u":/icons/"_s + name + u".svg"_s;
}

QImage mask(const QString& name, int pixels) {
    ensureResources();
    const QIcon source(pathOf(name));
    return source.pixmap(QSize(pixels, pixels))
        .toImage()
        .convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

QImage colored(const QImage& shape, const QColor& color) {
    QImage out = shape;
    QPainter p(&out);
    p.setCompositionMode(QPainter::CompositionMode_SourceIn);
    p.fillRect(out.rect(), color);
    return out;
}
} // namespace

namespace Symbols {
bool exists(const QString& name) {
    ensureResources();
    return QFile::exists(pathOf(name));
}

QPixmap tinted(const QString& name, const QColor& color, int size, qreal devicePixelRatio) {
    // Rows paint the same few pictures over and over; render each once.
    const QString key = u"tindrel:%1:%2:%3:%4"_s.arg(name, color.name(QColor::HexArgb))
                            .arg(size)
                            .arg(devicePixelRatio);
    QPixmap pixmap;
    if (QPixmapCache::find(key, &pixmap))
        return pixmap;
    if (!exists(name))
        return {};
    const int pixels = qMax(1, qRound(size * devicePixelRatio));
    pixmap = QPixmap::fromImage(colored(mask(name, pixels), color));
    pixmap.setDevicePixelRatio(devicePixelRatio);
    QPixmapCache::insert(key, pixmap);
    return pixmap;
}

QIcon tintedIcon(const QString& name, const QColor& color, int size) {
    QIcon icon;
    for (const qreal ratio : {1.0, 2.0})
        icon.addPixmap(tinted(name, color, size, ratio));
    return icon;
}

QIcon trayIcon(const QString& name, bool dimmed) {
    if (!exists(name))
        return {};
    QIcon icon;
    for (const int pixels : {16, 22, 24, 32, 48, 64}) {
        // Leave room for the rim around the picture.
        const int inset = qMax(1, pixels / 16);
        const QImage shape = mask(name, pixels - 2 * inset);
        QImage out(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
        out.fill(Qt::transparent);
        QPainter p(&out);
        p.setOpacity(dimmed ? 0.45 : 1.0);
        const QImage rim = colored(shape, QColor(0, 0, 0, 150));
        for (int dx = -1; dx <= 1; ++dx)
            for (int dy = -1; dy <= 1; ++dy)
                if (dx != 0 || dy != 0)
                    p.drawImage(inset + dx, inset + dy, rim);
        p.drawImage(inset, inset, colored(shape, QColor(0xf2, 0xf2, 0xf2)));
        p.end();
        icon.addPixmap(QPixmap::fromImage(out));
    }
    return icon;
}

QIcon applicationIcon() {
    ensureResources();
    return QIcon(pathOf(u"io.tindrel.Tindrel"_s));
}
} // namespace Symbols
