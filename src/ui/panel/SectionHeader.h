#pragma once

#include <QString>

class QPainter;
class QPalette;
class QRect;

// The title strip above the pinned and the recent clips: title on the left,
// an optional count on the right, drawn in red while highlighted.
struct SectionHeader {
    static constexpr int height = 24;

    QString title;
    QString trailing;
    bool highlighted = false;

    void paint(QPainter& painter, const QRect& rect, const QPalette& palette) const;
};
