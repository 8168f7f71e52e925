#pragma once

#include "ui/panel/ClipRow.h"
#include "ui/panel/SectionHeader.h"

#include <QList>
#include <QTimer>
#include <QWidget>
#include <chrono>

// One block of the panel's list: a section header over clip rows, painted
// here rather than built from a widget per row, so a search that matches a
// thousand clips stays cheap. Handles hover, click, the pin button, the
// context menu, tooltips and the hold-then-drag gesture, and reports each by
// row index through its signals.
class ClipListView : public QWidget {
    Q_OBJECT
public:
    explicit ClipListView(QWidget* parent = nullptr);

    void setHeader(const SectionHeader& header);
    void setRows(QList<ClipRow> rows);
    // Blank space above the header and below the rows; the pinned block ends
    // in a thin separator instead.
    void setPadding(int top, int bottom);
    void setSeparator(bool shown);
    // Vertical offsets per row while a pin is dragged, and which row is the
    // dragged one (drawn last, with a shadow); -1 for none.
    void setShifts(QList<double> shifts, int draggedRow);

    const SectionHeader& header() const { return m_header; }
    const QList<ClipRow>& rows() const { return m_rows; }
    QRect rowRect(int row) const;
    int rowAt(const QPoint& point) const;
    int contentHeight() const;
    // How long a press must last before a reorderable row lifts.
    void setHoldInterval(std::chrono::milliseconds interval) { m_holdTimer.setInterval(interval); }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

Q_SIGNALS:
    void activated(int row);
    void togglePinRequested(int row);
    void deleteRequested(int row);
    // A pin moved by one place from its context menu: -1 up, +1 down.
    void movePinRequested(int row, int delta);
    // The hold-then-drag gesture of a reorderable row: lifted, moved by
    // `translation` pixels from where the press began, let go.
    void reorderHeld(int row);
    void reorderChanged(int row, double translation);
    void reorderEnded(int row);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void setHovered(int row, bool onPinButton);
    void held();
    void resetPress();

    SectionHeader m_header;
    QList<ClipRow> m_rows;
    QList<double> m_shifts;
    int m_draggedRow = -1;
    int m_topPadding = 0;
    int m_bottomPadding = 0;
    bool m_separator = false;

    int m_hovered = -1;
    bool m_pinButtonHovered = false;

    // The press in progress: which row, where, and whether the hold
    // completed (a held press is a reorder, never a click).
    int m_pressRow = -1;
    QPointF m_pressGlobal;
    bool m_held = false;
    QTimer m_holdTimer;
};
