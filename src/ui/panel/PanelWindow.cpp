#include "ui/panel/PanelWindow.h"

#include "ui/panel/PanelColors.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

PanelWindow::PanelWindow(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    // An ARGB window from the start, so translucency can follow the
    // compositor without creating the window again.
    setAttribute(Qt::WA_TranslucentBackground);
    setWindowTitle(u"Tindrel"_s);
    setObjectName(u"TindrelPanel"_s);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    updateMask();
}

void PanelWindow::setContent(QWidget* content) {
    content->setParent(this);
    layout()->addWidget(content);
}

void PanelWindow::setTranslucent(bool translucent) {
    m_translucent = translucent;
    updateMask();
    update();
}

void PanelWindow::updateMask() {
    if (m_translucent) {
        clearMask();
        return;
    }
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()), cornerRadius, cornerRadius);
    setMask(QRegion(path.toFillPolygon().toPolygon()));
}

void PanelWindow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.fillRect(rect(), Qt::transparent);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    QPainterPath shape;
    const QRectF card = QRectF(rect()).adjusted(0.25, 0.25, -0.25, -0.25);
    shape.addRoundedRect(card, cornerRadius, cornerRadius);
    QColor background = palette().color(QPalette::Window);
    if (m_translucent)
        background.setAlphaF(0.93f);
    p.fillPath(shape, background);
    QPen border(PanelColors::withAlpha(PanelColors::primary(palette()), 0.12));
    border.setWidthF(0.5);
    p.setPen(border);
    p.drawPath(shape);
}

void PanelWindow::resizeEvent(QResizeEvent* event) {
    updateMask();
    QWidget::resizeEvent(event);
}

void PanelWindow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange) {
        // Only a loss of the focus this showing had counts: a late
        // deactivation from the previous showing must not close this one.
        if (isActiveWindow())
            m_wasActive = true;
        else if (m_wasActive && isVisible())
            Q_EMIT deactivated();
    }
    QWidget::changeEvent(event);
}
