#pragma once

#include "core/store/Clip.h"

#include <QRect>
#include <QString>

class QPainter;
class QPalette;

// One clip as the panel draws it: pin mark, one-line preview, line badge and
// shortcut hint, with the hover pin button. A value the list view paints; the
// list view owns the pointer handling.
struct ClipRow {
    Clip clip;
    bool isPinned = false;
    bool isSelected = false;
    bool isDragging = false;
    bool pinDisabled = false; // the pin list is full
    QString shortcut;         // empty: no hint
    int rowHeight = 34;
    int fontSize = 12;
    bool showLineBadge = true;
    bool reorderable = false;
    bool hovering = false;

    bool showsPinButton() const { return hovering && !isDragging; }
    bool pinButtonEnabled() const { return isPinned || !pinDisabled; }
    // Inside the row rectangle, at its trailing edge.
    static QRect pinButtonRect(const QRect& row);

    QString tooltip() const;
    QString pinButtonTooltip() const;

    void paint(QPainter& painter, const QRect& row, const QPalette& palette,
               bool pinButtonHovered) const;
};
