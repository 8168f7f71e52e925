#pragma once

#include <QColor>
#include <QPalette>

// The panel's colour roles, derived from the current palette so light and
// dark themes both work: primary text, the two fainter levels, and the accent.
namespace PanelColors {
inline QColor withAlpha(QColor color, qreal alpha) {
    color.setAlphaF(static_cast<float>(alpha));
    return color;
}
inline QColor primary(const QPalette& p) {
    return p.color(QPalette::WindowText);
}
inline QColor secondary(const QPalette& p) {
    return withAlpha(primary(p), 0.6);
}
inline QColor tertiary(const QPalette& p) {
    return withAlpha(primary(p), 0.32);
}
inline QColor accent(const QPalette& p) {
    return p.color(QPalette::Highlight);
}
inline QColor warning() {
    return QColor(0xe0, 0x7b, 0x00);
}
inline QColor alert() {
    return QColor(0xe5, 0x39, 0x35);
}
} // namespace PanelColors
