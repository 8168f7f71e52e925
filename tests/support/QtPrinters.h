#pragma once

#include <QString>
#include <ostream>

// Lets test failures show Qt strings as text rather than as raw bytes.
inline void PrintTo(const QString& string, std::ostream* out) {
    *out << '"' << string.toStdString() << '"';
}
