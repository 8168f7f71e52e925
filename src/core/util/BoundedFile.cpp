#include "core/util/BoundedFile.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {
BoundedFile::Error unreadable(const QString& why) {
    return {BoundedFile::Error::Kind::Unreadable, why};
}

BoundedFile::Error systemError() {
    return unreadable(qt_error_string(errno));
}

// What a path is when it is not a regular file, for the user.
QString notRegular(mode_t mode) {
    if (S_ISDIR(mode))
        return u"it is a folder, not a regular file"_s;
    if (S_ISFIFO(mode))
        return u"it is a named pipe, not a regular file"_s;
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return u"it is a device, not a regular file"_s;
    if (S_ISSOCK(mode))
        return u"it is a socket, not a regular file"_s;
    return u"it is not a regular file"_s;
}
} // namespace

std::expected<QByteArray, BoundedFile::Error> BoundedFile::read(const QString& path,
                                                                qint64 maxBytes) {
    const QByteArray name = QFile::encodeName(path);
    // Opening a device can have effects of its own, so what is not a regular
    // file is refused before it is opened...
    struct stat before {};
    if (::stat(name.constData(), &before) != 0)
        return std::unexpected(systemError());
    if (!S_ISREG(before.st_mode))
        return std::unexpected(unreadable(notRegular(before.st_mode)));
    // ...and, should it be swapped meanwhile, opening does not wait for a
    // pipe's writer, and what was opened is checked again.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return std::unexpected(systemError());
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return std::unexpected(unreadable(file.errorString()));
    }
    struct stat opened {};
    if (::fstat(fd, &opened) != 0)
        return std::unexpected(systemError());
    if (!S_ISREG(opened.st_mode))
        return std::unexpected(unreadable(notRegular(opened.st_mode)));
    if (opened.st_size > maxBytes)
        return std::unexpected(Error{Error::Kind::TooLarge, {}});
    // Reading asks for a buffer of the size it is given: the file's own size
    // and one byte to notice growth keep that small.
    const qint64 size = opened.st_size;
    QByteArray bytes = file.read(size + 1);
    if (bytes.size() > size && file.error() == QFileDevice::NoError)
        bytes += file.read(maxBytes + 1 - bytes.size()); // it grew meanwhile
    if (file.error() != QFileDevice::NoError)
        return std::unexpected(unreadable(file.errorString()));
    if (bytes.size() > maxBytes)
        return std::unexpected(Error{Error::Kind::TooLarge, {}});
    return bytes;
}
