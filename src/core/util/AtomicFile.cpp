#include "core/util/AtomicFile.h"

#include <QSaveFile>

std::expected<void, QString> AtomicFile::write(const QString& path, const QByteArray& bytes) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return std::unexpected(file.errorString());
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (file.write(bytes) != bytes.size()) {
        const QString error = file.errorString();
        file.cancelWriting();
        return std::unexpected(error);
    }
    if (!file.commit())
        return std::unexpected(file.errorString());
    return {};
}
