#pragma once

#include <QByteArray>
#include <QString>
#include <ostream>

// Lets GoogleTest show Qt strings as text in failure messages. Found by
// argument-dependent lookup, so these live in the global namespace.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

inline void PrintTo(const QByteArray& bytes, std::ostream* out) {
    *out << '"' << bytes.toStdString() << '"';
}
