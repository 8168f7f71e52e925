#include "core/util/AtomicFile.h"

#include <QSaveFile>

#include <cerrno>
#include <unistd.h>

using namespace Qt::StringLiterals;

std::expected<void, QString> AtomicFile::write(const QString& path, const QByteArray& bytes) {
    // Unbuffered: a buffered write only fills memory, and the error of the
    // real write at commit() is lost, so a file cut short on a full disk
    // would take the old one's place.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return std::unexpected(file.errorString());
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const auto fail = [&file](const QString& error) {
        file.cancelWriting();
        return std::unexpected(error.isEmpty() ? u"the file was cut short"_s : error);
    };
    // A write that stops part-way tells why only when asked for the rest.
    qint64 written = 0;
    while (written < bytes.size()) {
        const qint64 n = file.write(bytes.constData() + written, bytes.size() - written);
        if (n <= 0)
            return fail(file.errorString());
        written += n;
    }
    // Some file systems report a full disk or a failing one only here.
    if (::fsync(file.handle()) != 0)
        return fail(qt_error_string(errno));
    if (file.size() != bytes.size())
        return fail({});
    if (!file.commit())
        return std::unexpected(file.errorString());
    return {};
}
