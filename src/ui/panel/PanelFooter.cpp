#include "ui/panel/PanelFooter.h"

#include "ui/Symbols.h"
#include "ui/panel/PanelColors.h"
#include "ui/panel/PanelDivider.h"
#include "ui/panel/PanelResizeGrip.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QToolButton>

using namespace Qt::StringLiterals;

PanelFooter::PanelFooter(QWidget* parent) : QWidget(parent) {
    m_bar = new QWidget(this);
    m_bar->setFixedHeight(36);
    QToolButton* clearHistory = addButton(u"Clear History"_s);
    clearHistory->setToolTip(u"Pinned clips are kept"_s);
    m_settings = addButton(QString());
    m_settings->setToolTip(u"Settings"_s);
    m_settings->setAccessibleName(u"Settings"_s);
    QToolButton* quit = addButton(u"Quit"_s);
    m_grip = new PanelResizeGrip(m_bar);

    auto* row = new QHBoxLayout(m_bar);
    row->setContentsMargins(12, 0, 2, 0);
    row->setSpacing(10);
    row->addWidget(clearHistory);
    row->addStretch(1);
    row->addWidget(m_settings);
    row->addWidget(quit);
    row->addWidget(m_grip);
    PanelDivider::stack(this, m_bar, Qt::TopEdge);

    connect(clearHistory, &QToolButton::clicked, this, &PanelFooter::clearHistoryClicked);
    connect(m_settings, &QToolButton::clicked, this, &PanelFooter::settingsClicked);
    connect(quit, &QToolButton::clicked, this, &PanelFooter::quitClicked);
    applyColors();
}

QToolButton* PanelFooter::addButton(const QString& text) {
    auto* button = new QToolButton(m_bar);
    button->setText(text);
    button->setAutoRaise(true);
    button->setCursor(Qt::PointingHandCursor);
    QFont font = button->font();
    font.setPixelSize(11);
    button->setFont(font);
    return button;
}

void PanelFooter::applyColors() {
    const QColor secondary = PanelColors::secondary(palette());
    for (QToolButton* button : m_bar->findChildren<QToolButton*>()) {
        QPalette colors = button->palette();
        colors.setColor(QPalette::ButtonText, secondary);
        button->setPalette(colors);
    }
    m_settings->setIcon(Symbols::tintedIcon(u"gearshape"_s, secondary, 13));
}

void PanelFooter::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange)
        applyColors();
    QWidget::changeEvent(event);
}
