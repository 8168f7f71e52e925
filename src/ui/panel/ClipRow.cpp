#include "ui/panel/ClipRow.h"

#include "core/panel/RowText.h"
#include "ui/Symbols.h"
#include "ui/panel/PanelColors.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>

using namespace Qt::StringLiterals;

namespace {
constexpr int leadingPadding = 12;
constexpr int spacing = 8;

void fillRounded(QPainter& p, const QRectF& rect, qreal radius, const QColor& color) {
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    p.fillPath(path, color);
}
} // namespace

QRect ClipRow::pinButtonRect(const QRect& row) {
    return QRect(row.right() + 1 - 12 - 20, row.top() + (row.height() - 20) / 2, 20, 20);
}

QString ClipRow::tooltip() const {
    return RowText::rowTooltip(clip.text(), reorderable);
}

QString ClipRow::pinButtonTooltip() const {
    return RowText::pinButtonTooltip(isPinned, pinDisabled);
}

void ClipRow::paint(QPainter& p, const QRect& row, const QPalette& palette,
                    bool pinButtonHovered) const {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const qreal dpr = p.device() ? p.device()->devicePixelRatioF() : 1.0;

    if (isDragging)
        fillRounded(p, QRectF(row).adjusted(4, 1, -4, -1), 6, palette.color(QPalette::Window));
    else if (isSelected)
        fillRounded(p, QRectF(row).adjusted(6, 0, -6, 0), 5,
                    PanelColors::withAlpha(PanelColors::accent(palette), 0.22));
    else if (hovering)
        fillRounded(p, QRectF(row).adjusted(6, 0, -6, 0), 5,
                    PanelColors::withAlpha(PanelColors::primary(palette), 0.07));

    const int trailingPadding = showsPinButton() ? 36 : 12;
    int x = row.left() + leadingPadding;
    const int right = row.right() + 1 - trailingPadding;
    const int midY = row.center().y();

    if (isPinned) {
        const QPixmap mark = Symbols::tinted(u"pin.fill"_s, PanelColors::accent(palette), 9, dpr);
        p.save();
        p.translate(x + 5, midY + 0.5);
        p.rotate(45);
        p.drawPixmap(QPointF(-4.5, -4.5), mark);
        p.restore();
        x += 10 + spacing;
    }

    // The hint sits at the trailing edge; the preview and badge share the rest.
    int available = right - x;
    QFont hintFont = p.font();
    hintFont.setPixelSize(10);
    hintFont.setWeight(QFont::Medium);
    const bool showHint = !shortcut.isEmpty() && !hovering && !isDragging;
    if (showHint) {
        const int hintWidth = QFontMetrics(hintFont).horizontalAdvance(shortcut);
        p.setFont(hintFont);
        p.setPen(PanelColors::tertiary(palette));
        p.drawText(QRect(right - hintWidth, row.top(), hintWidth, row.height()),
                   Qt::AlignVCenter | Qt::AlignRight, shortcut);
        available -= hintWidth + spacing;
    }

    QFont badgeFont = p.font();
    badgeFont.setPixelSize(9);
    badgeFont.setWeight(QFont::Medium);
    const QString badge = showLineBadge ? RowText::lineBadge(clip.lineCount()) : QString();
    const QFontMetrics badgeMetrics(badgeFont);
    const int badgeWidth = badge.isEmpty() ? 0 : badgeMetrics.horizontalAdvance(badge) + 8;
    if (!badge.isEmpty())
        available -= badgeWidth + spacing;

    QFont textFont = p.font();
    textFont.setPixelSize(fontSize);
    textFont.setWeight(QFont::Normal);
    const QFontMetrics textMetrics(textFont);
    const QString preview =
        textMetrics.elidedText(clip.preview(), Qt::ElideRight, qMax(0, available));
    const int previewWidth = textMetrics.horizontalAdvance(preview);
    p.setFont(textFont);
    p.setPen(PanelColors::primary(palette));
    p.drawText(QRect(x, row.top(), qMax(0, available), row.height()),
               Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine, preview);
    x += previewWidth + spacing;

    if (!badge.isEmpty()) {
        const int badgeHeight = badgeMetrics.height() + 2;
        const QRectF capsule(x, midY - badgeHeight / 2.0 + 0.5, badgeWidth, badgeHeight);
        fillRounded(p, capsule, badgeHeight / 2.0,
                    PanelColors::withAlpha(PanelColors::primary(palette), 0.08));
        p.setFont(badgeFont);
        p.setPen(PanelColors::secondary(palette));
        p.drawText(capsule, Qt::AlignCenter, badge);
    }

    if (showsPinButton()) {
        const QRect button = pinButtonRect(row);
        if (pinButtonHovered && pinButtonEnabled())
            fillRounded(p, button, 4, PanelColors::withAlpha(PanelColors::primary(palette), 0.08));
        QColor color = isPinned      ? PanelColors::secondary(palette)
                       : pinDisabled ? PanelColors::withAlpha(PanelColors::secondary(palette), 0.4)
                                     : PanelColors::accent(palette);
        const QString symbol = isPinned ? u"pin.slash.fill"_s : u"pin"_s;
        const QPixmap icon = Symbols::tinted(symbol, color, 11, dpr);
        p.drawPixmap(QPointF(button.left() + 4.5, button.top() + 4.5), icon);
    }
    p.restore();
}
