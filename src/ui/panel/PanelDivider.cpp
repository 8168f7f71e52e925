#include "ui/panel/PanelDivider.h"

#include "ui/panel/PanelColors.h"

#include <QPainter>

PanelDivider::PanelDivider(QWidget* parent) : QWidget(parent) {
    setFixedHeight(1);
}

void PanelDivider::paintEvent(QPaintEvent*) {
    QPainter(this).fillRect(rect(), PanelColors::withAlpha(PanelColors::primary(palette()), 0.12));
}
