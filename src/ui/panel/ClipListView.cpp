#include "ui/panel/ClipListView.h"

#include "core/panel/PanelKeys.h"
#include "ui/PlainText.h"
#include "ui/panel/PanelColors.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>
#include <algorithm>
#include <cmath>

using namespace Qt::StringLiterals;

namespace {
constexpr double holdSlop = 12.0; // pointer travel that cancels a hold
constexpr int separatorHeight = 9;
} // namespace

ClipListView::ClipListView(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    m_holdTimer.setSingleShot(true);
    m_holdTimer.setInterval(400);
    connect(&m_holdTimer, &QTimer::timeout, this, &ClipListView::held);
}

void ClipListView::setHeader(const SectionHeader& header) {
    m_header = header;
    update();
}

void ClipListView::setRows(QList<ClipRow> rows) {
    const bool heightChanged =
        rows.size() != m_rows.size() ||
        (!rows.isEmpty() && rows.front().rowHeight != m_rows.front().rowHeight);
    m_rows = std::move(rows);
    if (m_hovered >= m_rows.size())
        m_hovered = -1;
    if (m_hovered >= 0)
        m_rows[m_hovered].hovering = true;
    if (m_pressRow >= m_rows.size())
        resetPress();
    if (heightChanged) {
        setFixedHeight(contentHeight());
        updateGeometry();
    }
    update();
}

void ClipListView::setPadding(int top, int bottom) {
    m_topPadding = top;
    m_bottomPadding = bottom;
    setFixedHeight(contentHeight());
    update();
}

void ClipListView::setSeparator(bool shown) {
    m_separator = shown;
    setFixedHeight(contentHeight());
    update();
}

void ClipListView::setShifts(QList<double> shifts, int draggedRow) {
    m_shifts = std::move(shifts);
    m_draggedRow = draggedRow;
    update();
}

int ClipListView::contentHeight() const {
    int rows = 0;
    for (const ClipRow& row : m_rows)
        rows += row.rowHeight;
    return m_topPadding + SectionHeader::height + rows + m_bottomPadding +
           (m_separator ? separatorHeight : 0);
}

QSize ClipListView::sizeHint() const {
    return {200, contentHeight()};
}

QRect ClipListView::rowRect(int row) const {
    if (row < 0 || row >= m_rows.size())
        return {};
    const int height = m_rows[row].rowHeight;
    return QRect(0, m_topPadding + SectionHeader::height + row * height, width(), height);
}

int ClipListView::rowAt(const QPoint& point) const {
    if (m_rows.isEmpty())
        return -1;
    const int top = m_topPadding + SectionHeader::height;
    if (point.y() < top || point.x() < 0 || point.x() >= width())
        return -1;
    const int row = (point.y() - top) / m_rows.front().rowHeight;
    return row < m_rows.size() ? row : -1;
}

void ClipListView::paintEvent(QPaintEvent* event) {
    QPainter p(this);
    const QRect dirty = event->rect();
    const QRect headerRect(0, m_topPadding, width(), SectionHeader::height);
    if (dirty.intersects(headerRect))
        m_header.paint(p, headerRect, palette());

    auto shifted = [&](int i) {
        const double shift = i < m_shifts.size() ? m_shifts[i] : 0.0;
        return rowRect(i).translated(0, qRound(shift));
    };
    // Only the rows in view are drawn: a long search result costs nothing
    // until it is scrolled to.
    if (!m_rows.isEmpty()) {
        const int first = qMax(0, rowAt(QPoint(0, dirty.top())));
        const int rowHeight = m_rows.front().rowHeight;
        const int last =
            qMin<int>(m_rows.size() - 1,
                      (dirty.bottom() - m_topPadding - SectionHeader::height) / rowHeight + 1);
        const bool anyShift = !m_shifts.isEmpty();
        for (int i = anyShift ? 0 : first; i <= (anyShift ? m_rows.size() - 1 : last); ++i) {
            if (i == m_draggedRow)
                continue;
            m_rows[i].paint(p, shifted(i), palette(), i == m_hovered && m_pinButtonHovered);
        }
        if (m_draggedRow >= 0 && m_draggedRow < m_rows.size()) {
            // The lifted row floats above its neighbours with a soft shadow.
            const QRect lifted = shifted(m_draggedRow);
            p.save();
            p.setRenderHint(QPainter::Antialiasing);
            for (int spread = 7; spread > 0; --spread) {
                QPainterPath path;
                const QRectF r = QRectF(lifted).adjusted(4 - spread / 2.0, 1 + 3 - spread / 2.0,
                                                         -4 + spread / 2.0, -1 + 3 + spread / 2.0);
                path.addRoundedRect(r, 6 + spread / 2.0, 6 + spread / 2.0);
                p.fillPath(path, QColor(0, 0, 0, qRound(0.22 * 255 / 7)));
            }
            p.restore();
            m_rows[m_draggedRow].paint(p, lifted, palette(), false);
        }
    }

    if (m_separator) {
        const int y = contentHeight() - separatorHeight / 2 - 1;
        p.setPen(PanelColors::withAlpha(PanelColors::primary(palette()), 0.12));
        p.drawLine(10, y, width() - 11, y);
    }
}

void ClipListView::setHovered(int row, bool onPinButton) {
    if (row == m_hovered && onPinButton == m_pinButtonHovered)
        return;
    if (m_hovered >= 0 && m_hovered < m_rows.size())
        m_rows[m_hovered].hovering = false;
    m_hovered = row;
    m_pinButtonHovered = onPinButton;
    if (row >= 0)
        m_rows[row].hovering = true;
    update();
}

void ClipListView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    resetPress();
    m_pressRow = rowAt(event->position().toPoint());
    m_pressGlobal = event->globalPosition();
    if (m_pressRow >= 0 && m_rows[m_pressRow].reorderable &&
        !ClipRow::pinButtonRect(rowRect(m_pressRow)).contains(event->position().toPoint()))
        m_holdTimer.start();
}

void ClipListView::held() {
    if (m_pressRow < 0)
        return;
    m_held = true;
    Q_EMIT reorderHeld(m_pressRow);
}

void ClipListView::mouseMoveEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    if (m_pressRow >= 0 && (event->buttons() & Qt::LeftButton)) {
        const QPointF travel = event->globalPosition() - m_pressGlobal;
        if (m_held) {
            Q_EMIT reorderChanged(m_pressRow, travel.y());
            return;
        }
        // Moving before the hold completes makes it an ordinary press.
        if (m_holdTimer.isActive() && std::hypot(travel.x(), travel.y()) > holdSlop)
            m_holdTimer.stop();
    }
    const int row = rowAt(pos);
    setHovered(row, row >= 0 && ClipRow::pinButtonRect(rowRect(row)).contains(pos));
}

void ClipListView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return QWidget::mouseReleaseEvent(event);
    const int pressed = m_pressRow;
    const bool wasHeld = m_held;
    resetPress();
    if (pressed < 0)
        return;
    if (wasHeld) {
        Q_EMIT reorderEnded(pressed);
        return;
    }
    const QPoint pos = event->position().toPoint();
    if (rowAt(pos) != pressed)
        return;
    if (ClipRow::pinButtonRect(rowRect(pressed)).contains(pos)) {
        if (m_rows[pressed].pinButtonEnabled())
            Q_EMIT togglePinRequested(pressed);
        return;
    }
    Q_EMIT activated(pressed);
}

void ClipListView::resetPress() {
    m_holdTimer.stop();
    m_pressRow = -1;
    m_held = false;
}

void ClipListView::leaveEvent(QEvent*) {
    setHovered(-1, false);
}

void ClipListView::contextMenuEvent(QContextMenuEvent* event) {
    const int row = rowAt(event->pos());
    if (row < 0)
        return;
    const ClipRow& clipRow = m_rows[row];
    QMenu menu(this);
    // Each item names its key in the panel; the text after the tab is shown
    // as the shortcut column.
    auto item = [&menu](const QString& text, PanelKeys::Action key) {
        return menu.addAction(text + u'\t' + PanelKeys::label(key));
    };
    QAction* pin = item(clipRow.isPinned ? u"Unpin"_s : u"Pin"_s, PanelKeys::Action::togglePin);
    pin->setEnabled(clipRow.pinButtonEnabled());
    QAction* up = nullptr;
    QAction* down = nullptr;
    if (clipRow.reorderable) {
        up = item(u"Move Up"_s, PanelKeys::Action::movePinUp);
        up->setEnabled(row > 0);
        down = item(u"Move Down"_s, PanelKeys::Action::movePinDown);
        down->setEnabled(row + 1 < m_rows.size());
    }
    QAction* remove = item(u"Delete"_s, PanelKeys::Action::deleteClip);
    const QUuid clicked = clipRow.clip.id();
    QAction* chosen = menu.exec(event->globalPos());
    // Captures keep arriving while the menu is open and may move or remove
    // rows: act on the clip that was clicked, wherever it is now.
    const auto now = std::ranges::find_if(
        m_rows, [&clicked](const ClipRow& candidate) { return candidate.clip.id() == clicked; });
    if (now == m_rows.end())
        return;
    const int current = static_cast<int>(now - m_rows.begin());
    if (chosen == pin)
        Q_EMIT togglePinRequested(current);
    else if (chosen == remove)
        Q_EMIT deleteRequested(current);
    else if (chosen && (chosen == up || chosen == down))
        Q_EMIT movePinRequested(current, chosen == up ? -1 : 1);
}

bool ClipListView::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const int row = rowAt(help->pos());
        QString text;
        if (row >= 0) {
            const ClipRow& clipRow = m_rows[row];
            text = clipRow.showsPinButton() &&
                           ClipRow::pinButtonRect(rowRect(row)).contains(help->pos())
                       ? clipRow.pinButtonTooltip()
                       : clipRow.tooltip();
        }
        if (text.isEmpty()) {
            QToolTip::hideText();
            event->ignore();
        } else {
            QToolTip::showText(help->globalPos(), PlainText::tooltip(text), this, rowRect(row));
        }
        return true;
    }
    return QWidget::event(event);
}
