#include "ui/panel/SectionHeader.h"

#include "ui/panel/PanelColors.h"

#include <QFont>
#include <QPainter>
#include <QRect>

void SectionHeader::paint(QPainter& painter, const QRect& rect, const QPalette& palette) const {
    painter.save();
    const QColor color = highlighted ? PanelColors::alert() : PanelColors::secondary(palette);
    const QRect inner = rect.adjusted(12, 0, -12, 0);

    QFont titleFont = painter.font();
    titleFont.setPixelSize(10);
    titleFont.setWeight(QFont::DemiBold);
    titleFont.setLetterSpacing(QFont::AbsoluteSpacing, 0.6);
    painter.setFont(titleFont);
    painter.setPen(color);
    painter.drawText(inner, Qt::AlignLeft | Qt::AlignVCenter, title.toUpper());

    if (!trailing.isEmpty()) {
        QFont countFont = painter.font();
        countFont.setLetterSpacing(QFont::AbsoluteSpacing, 0);
        countFont.setWeight(highlighted ? QFont::Bold : QFont::Normal);
        painter.setFont(countFont);
        painter.drawText(inner, Qt::AlignRight | Qt::AlignVCenter, trailing);
    }
    painter.restore();
}
