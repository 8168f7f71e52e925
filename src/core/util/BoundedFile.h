#pragma once

#include <QByteArray>
#include <QString>
#include <expected>

// Reading a whole file that must not be larger than we would ever write:
// a larger one (or an endless pipe) is refused before it fills memory.
namespace BoundedFile {
struct Error {
    enum class Kind { Unreadable, TooLarge };
    Kind kind;
    // The system's description when unreadable.
    QString description;
};

std::expected<QByteArray, Error> read(const QString& path, qint64 maxBytes);
} // namespace BoundedFile
