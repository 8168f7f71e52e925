#include "ui/settings/Hint.h"

Hint::Hint(const QString& text, QWidget* parent) : QLabel(text, parent) {
    setTextFormat(Qt::PlainText);
    setWordWrap(true);
    // A role rather than a fixed colour, so it follows a change of theme.
    setForegroundRole(QPalette::PlaceholderText);
    QFont small = font();
    small.setPointSizeF(small.pointSizeF() * 0.9);
    setFont(small);
}
