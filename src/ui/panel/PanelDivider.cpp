#include "ui/panel/PanelDivider.h"

#include "ui/panel/PanelColors.h"

#include <QPainter>
#include <QVBoxLayout>

PanelDivider::PanelDivider(QWidget* parent) : QWidget(parent) {
    setFixedHeight(1);
}

void PanelDivider::stack(QWidget* owner, QWidget* bar, Qt::Edge divider) {
    auto* column = new QVBoxLayout(owner);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(bar);
    column->insertWidget(divider == Qt::TopEdge ? 0 : 1, new PanelDivider(owner));
}

void PanelDivider::paintEvent(QPaintEvent*) {
    QPainter(this).fillRect(rect(), PanelColors::withAlpha(PanelColors::primary(palette()), 0.12));
}
