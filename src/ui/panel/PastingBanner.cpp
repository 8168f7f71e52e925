#include "ui/panel/PastingBanner.h"

#include "ui/Symbols.h"
#include "ui/panel/PanelColors.h"
#include "ui/panel/PanelDivider.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>

using namespace Qt::StringLiterals;

PastingBanner::PastingBanner(QWidget* parent) : QWidget(parent) {
    setToolTip(u"This desktop does not let Tindrel press Ctrl+V in the window in front"_s);
    auto* bar = new QWidget(this);
    bar->setFixedHeight(32);
    bar->setAutoFillBackground(true);
    QPalette colors = bar->palette();
    colors.setColor(QPalette::Window, PanelColors::withAlpha(PanelColors::warning(), 0.12));
    colors.setColor(QPalette::WindowText, PanelColors::warning());
    colors.setColor(QPalette::ButtonText, PanelColors::warning());
    bar->setPalette(colors);

    auto* icon = new QLabel(bar);
    icon->setPixmap(Symbols::tinted(u"exclamationmark.triangle.fill"_s, PanelColors::warning(), 10,
                                    devicePixelRatioF()));
    auto* text = new QLabel(u"Clicking copies but can't paste"_s, bar);
    QFont font = text->font();
    font.setPixelSize(11);
    text->setFont(font);
    auto* enable = new QToolButton(bar);
    enable->setText(u"Enable…"_s);
    enable->setAutoRaise(true);
    font.setWeight(QFont::DemiBold);
    enable->setFont(font);

    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(12, 0, 12, 0);
    row->setSpacing(6);
    row->addWidget(icon);
    row->addWidget(text);
    row->addStretch(1);
    row->addWidget(enable);
    PanelDivider::stack(this, bar, Qt::BottomEdge);

    connect(enable, &QToolButton::clicked, this, &PastingBanner::explainRequested);
}
