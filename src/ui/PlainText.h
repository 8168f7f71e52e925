#pragma once

#include <QString>

// Text from clips and peers is shown as it is, never read as markup.
namespace PlainText {
// A tooltip that shows exactly `text`: Qt renders tooltips that look like
// markup as rich text, so those are escaped and wrapped.
QString tooltip(const QString& text);
} // namespace PlainText
