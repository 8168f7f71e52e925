#pragma once

#include <QByteArray>
#include <QString>
#include <expected>

// Reading a whole file that must not be larger than we would ever write:
// a larger one is refused before it fills memory. Only a regular file (links
// followed) is read: a named pipe would block the caller until some writer
// came along, and a device such as /dev/zero never ends.
namespace BoundedFile {
struct Error {
    enum class Kind { Unreadable, TooLarge };
    Kind kind;
    // The system's description when unreadable, or what the path is when it
    // is not a regular file.
    QString description;
};

std::expected<QByteArray, Error> read(const QString& path, qint64 maxBytes);
} // namespace BoundedFile
