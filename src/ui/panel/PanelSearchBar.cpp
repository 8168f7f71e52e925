#include "ui/panel/PanelSearchBar.h"

#include "ui/Symbols.h"
#include "ui/panel/PanelColors.h"
#include "ui/panel/PanelDivider.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

using namespace Qt::StringLiterals;

PanelSearchBar::PanelSearchBar(QWidget* parent) : QWidget(parent) {
    auto* bar = new QWidget(this);
    bar->setFixedHeight(40);
    m_glass = new QLabel(bar);
    m_field = new QLineEdit(bar);
    m_field->setPlaceholderText(u"Search"_s);
    m_field->setFrame(false);
    QFont font = m_field->font();
    font.setPixelSize(13);
    m_field->setFont(font);
    QPalette clear = m_field->palette();
    clear.setColor(QPalette::Base, Qt::transparent);
    m_field->setPalette(clear);
    m_clear = new QToolButton(bar);
    m_clear->setAutoRaise(true);
    m_clear->setToolTip(u"Clear search"_s);
    m_clear->setCursor(Qt::ArrowCursor);
    m_clear->hide();

    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(12, 0, 12, 0);
    row->setSpacing(6);
    row->addWidget(m_glass);
    row->addWidget(m_field, 1);
    row->addWidget(m_clear);
    PanelDivider::stack(this, bar, Qt::BottomEdge);

    connect(m_field, &QLineEdit::textEdited, this, &PanelSearchBar::queryEdited);
    connect(m_clear, &QToolButton::clicked, this, [this] {
        m_field->setFocus();
        Q_EMIT cleared();
    });
    applyColors();
}

void PanelSearchBar::setQuery(const QString& query) {
    if (m_field->text() != query)
        m_field->setText(query);
    m_clear->setVisible(!query.isEmpty());
}

void PanelSearchBar::applyColors() {
    m_glass->setPixmap(Symbols::tinted(u"magnifyingglass"_s, PanelColors::secondary(palette()), 12,
                                       devicePixelRatioF()));
    m_clear->setIcon(
        Symbols::tintedIcon(u"xmark.circle.fill"_s, PanelColors::tertiary(palette()), 14));
}

void PanelSearchBar::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange)
        applyColors();
    QWidget::changeEvent(event);
}
