#include "ui/settings/QRView.h"

#include "core/sync/QRCode.h"

#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace {
constexpr int kPadding = 6;
constexpr qreal kRadius = 8.0;
} // namespace

QRView::QRView(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void QRView::setText(const QString& text) {
    if (text == m_text)
        return;
    m_text = text;
    m_cached = QImage();
    update();
}

QImage QRView::image(qreal devicePixelRatio) const {
    if (m_text.isEmpty())
        return {};
    // Rendered at the screen's own pixel count: scaling a finished image
    // would smear or double modules unevenly.
    const int pixels = int(std::lround(side * devicePixelRatio));
    if (m_cached.isNull() || m_cached.width() != pixels) {
        const std::optional<QImage> rendered = QRCode::image(m_text, pixels);
        m_cached = rendered ? *rendered : QImage();
        m_cached.setDevicePixelRatio(devicePixelRatio);
    }
    return m_cached;
}

bool QRView::hasImage() const {
    return !image(devicePixelRatioF()).isNull();
}

QSize QRView::sizeHint() const {
    return {side + 2 * kPadding, side + 2 * kPadding};
}

void QRView::paintEvent(QPaintEvent*) {
    const QImage code = image(devicePixelRatioF());
    if (code.isNull())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    QPainterPath card;
    card.addRoundedRect(QRectF(rect()), kRadius, kRadius);
    painter.fillPath(card, Qt::white);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(QPoint(kPadding, kPadding), code);
}
