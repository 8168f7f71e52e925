#include "core/panel/PanelGeometry.h"

#include <algorithm>
#include <cmath>

namespace PanelGeometry {
namespace {
double chrome(const PanelContent& c) {
    return (c.searchShown ? searchHeight : 0.0) + (c.bannerShown ? bannerHeight : 0.0) +
           (c.noticeShown ? noticeHeight : 0.0) + footerDivider + footerHeight;
}
} // namespace

double preferredHeight(const PanelContent& c) {
    double list = emptyListHeight;
    if (c.pinnedCount > 0 || c.historyCount > 0) {
        const double pinnedPart = c.pinnedCount > 0 ? headerHeight + c.pinnedCount * c.rowHeight +
                                                          separatorHeight + listPadding
                                                    : listPadding;
        const double historyPart =
            c.historyCount > 0 ? headerHeight + c.historyCount * c.rowHeight : 0.0;
        list = std::min(preferredListCap, pinnedPart + historyPart);
    }
    return list + chrome(c);
}

double minimumHeight(const PanelContent& c) {
    const double pinnedPart = c.pinnedCount > 0 ? c.pinnedCount * c.rowHeight + headerHeight +
                                                      separatorHeight + listPadding
                                                : listPadding;
    return 2 * c.rowHeight + headerHeight + pinnedPart + chrome(c);
}

double heightLimit(const std::optional<QRectF>& usable) {
    return usable ? std::max(0.0, usable->height() - topMargin) : fallbackMaxHeight;
}

double fittedMinimumHeight(const PanelContent& content, const std::optional<QRectF>& usable) {
    return std::min(minimumHeight(content), heightLimit(usable));
}

double maximumHeight(double minimum, const std::optional<QRectF>& usable) {
    return std::max(minimum, heightLimit(usable));
}

QSizeF minimumSize(const PanelContent& content, const std::optional<QRectF>& usable) {
    return {minWidth, fittedMinimumHeight(content, usable)};
}

QSizeF maximumSize(const PanelContent& content, const std::optional<QRectF>& usable) {
    return {maxWidth, maximumHeight(fittedMinimumHeight(content, usable), usable)};
}

QSizeF openSize(double resolvedWidth, double customHeight, const PanelContent& content,
                const std::optional<QRectF>& usable) {
    const double minimum = fittedMinimumHeight(content, usable);
    const double wanted = customHeight > 0 ? customHeight : preferredHeight(content);
    const double height = std::min(maximumHeight(minimum, usable), std::max(minimum, wanted));
    return {std::clamp(resolvedWidth, minWidth, maxWidth), height};
}

QRectF placeAtAnchor(const QRectF& anchor, const QSizeF& size,
                     const std::optional<QRectF>& usable) {
    double x = anchor.center().x() - size.width() / 2;
    double y = anchor.bottom() + anchorGap;
    if (usable) {
        x = std::max(x, usable->left() + edgeInset);
        // The right edge wins when the panel is wider than the room allows.
        x = std::min(x, usable->right() - size.width() - edgeInset);
        if (anchor.center().y() > usable->center().y())
            y = anchor.top() - anchorGap - size.height();
        // A cursor anchor can sit anywhere; keep the panel on screen.
        y = std::max(usable->top(), std::min(y, usable->bottom() - size.height()));
    }
    return {QPointF(x, y), size};
}

QRectF placeTopCentre(const QSizeF& size, const std::optional<QRectF>& usable) {
    const QRectF area = usable.value_or(QRectF());
    return {QPointF(area.center().x() - size.width() / 2, area.top() + topMargin), size};
}

QRectF placeCentre(const QSizeF& size, const std::optional<QRectF>& usable) {
    const QRectF area = usable.value_or(QRectF());
    const double top = std::max(area.top(), area.center().y() - size.height() / 2);
    return {QPointF(area.center().x() - size.width() / 2, top), size};
}

std::optional<QRectF> grownFrame(const QRectF& frame, double resolvedWidth,
                                 const PanelContent& content, const std::optional<QRectF>& usable) {
    const double minimum = fittedMinimumHeight(content, usable);
    const double width = std::clamp(resolvedWidth, minWidth, maxWidth);
    const double height =
        std::min(maximumHeight(minimum, usable), std::max(frame.height(), minimum));
    if (std::abs(frame.width() - width) > tolerance || height - frame.height() > tolerance)
        return QRectF(frame.topLeft(), QSizeF(width, height));
    return std::nullopt;
}

QSizeF dragResize(const QSizeF& start, const QSizeF& translation, const PanelContent& content,
                  const std::optional<QRectF>& usable) {
    const double minimum = fittedMinimumHeight(content, usable);
    const double height = std::min(std::max(minimum, start.height() + translation.height()),
                                   maximumHeight(minimum, usable));
    const double width = std::clamp(start.width() + translation.width(), minWidth, maxWidth);
    return {width, height};
}

int pinnedBlockHeight(const PanelContent& c, double listHeight) {
    const double block =
        headerHeight + c.pinnedCount * c.rowHeight + separatorHeight + listPadding / 2;
    // The recent block keeps its header and two rows, as the minimum height
    // promises; the pins get the rest, but always room for one of them.
    const double recent =
        c.historyCount > 0 ? headerHeight + 2 * c.rowHeight + listPadding / 2 : 0.0;
    const double floor =
        std::min(block, headerHeight + c.rowHeight + separatorHeight + listPadding / 2);
    return static_cast<int>(std::min(block, std::max(floor, listHeight - recent)));
}

int reorderTarget(int index, int count, double translation, double rowHeight) {
    if (count < 1 || rowHeight <= 0)
        return index;
    const int steps = static_cast<int>(std::round(translation / rowHeight));
    return std::clamp(index + steps, 0, count - 1);
}

double pinShift(int row, const std::optional<PinDrag>& drag, double rowHeight) {
    if (!drag)
        return 0.0;
    if (row == drag->origin)
        return drag->translation;
    if (drag->origin < row && row <= drag->target)
        return -rowHeight;
    if (drag->target <= row && row < drag->origin)
        return rowHeight;
    return 0.0;
}
} // namespace PanelGeometry
