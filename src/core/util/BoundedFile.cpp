#include "core/util/BoundedFile.h"

#include <QFile>

std::expected<QByteArray, BoundedFile::Error> BoundedFile::read(const QString& path,
                                                                qint64 maxBytes) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::unexpected(Error{Error::Kind::Unreadable, file.errorString()});
    if (file.size() > maxBytes)
        return std::unexpected(Error{Error::Kind::TooLarge, {}});
    // Reading asks for a buffer of the size it is given: a file's own size
    // (and one byte to notice growth) keeps that small; a pipe, whose size
    // is unknown, gets the whole bound.
    QByteArray bytes = file.read(file.isSequential() ? maxBytes + 1 : file.size() + 1);
    if (!file.isSequential() && bytes.size() > file.size() && file.error() == QFileDevice::NoError)
        bytes += file.read(maxBytes + 1 - bytes.size()); // it grew meanwhile
    if (file.error() != QFileDevice::NoError)
        return std::unexpected(Error{Error::Kind::Unreadable, file.errorString()});
    if (bytes.size() > maxBytes)
        return std::unexpected(Error{Error::Kind::TooLarge, {}});
    return bytes;
}
