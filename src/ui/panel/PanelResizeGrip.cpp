#include "ui/panel/PanelResizeGrip.h"

#include "ui/panel/PanelColors.h"

#include <QMouseEvent>
#include <QPainter>

using namespace Qt::StringLiterals;

PanelResizeGrip::PanelResizeGrip(QWidget* parent) : QWidget(parent) {
    setFixedSize(36, 36);
    setToolTip(u"Drag to resize"_s);
    setAccessibleName(u"Resize panel"_s);
    setCursor(Qt::SizeFDiagCursor);
}

void PanelResizeGrip::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPen pen(PanelColors::withAlpha(PanelColors::primary(palette()), m_hovering ? 0.45 : 0.28));
    pen.setWidthF(1.5);
    pen.setCapStyle(Qt::RoundCap);
    p.setPen(pen);
    const qreal right = width() - 5;
    const qreal bottom = height() - 5;
    for (const qreal offset : {7.0, 12.0, 17.0})
        p.drawLine(QPointF(right, offset), QPointF(offset, bottom));
}

void PanelResizeGrip::enterEvent(QEnterEvent*) {
    m_hovering = true;
    QWidget::update();
}

void PanelResizeGrip::leaveEvent(QEvent*) {
    m_hovering = false;
    QWidget::update();
}

void PanelResizeGrip::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    m_pressed = true;
    m_dragging = false;
    m_pressGlobal = event->globalPosition();
}

void PanelResizeGrip::mouseMoveEvent(QMouseEvent* event) {
    if (!m_pressed)
        return;
    const QPointF travel = event->globalPosition() - m_pressGlobal;
    if (!m_dragging && travel.manhattanLength() < 1)
        return;
    if (!m_dragging) {
        m_dragging = true;
        Q_EMIT resizeStarted();
    }
    Q_EMIT resizeDragged(QSizeF(travel.x(), travel.y()));
}

void PanelResizeGrip::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !m_pressed)
        return;
    finishDrag();
}

void PanelResizeGrip::hideEvent(QHideEvent* event) {
    // A key that closes the panel mid-drag means no release ever comes; the
    // size reached so far is kept as if the button had been let go.
    if (m_pressed)
        finishDrag();
    QWidget::hideEvent(event);
}

void PanelResizeGrip::finishDrag() {
    m_pressed = false;
    if (!m_dragging)
        return;
    m_dragging = false;
    Q_EMIT resizeFinished();
}
