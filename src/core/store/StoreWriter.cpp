#include "core/store/StoreWriter.h"

#include "core/store/StoreCodec.h"
#include "core/util/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>

StoreWriter::StoreWriter(QString path, QObject* parent)
    : QObject(parent), m_path(std::move(path)) {}

StoreWriter::~StoreWriter() = default;

quint64 StoreWriter::write(StoreContents snapshot) {
    const quint64 ticket = ++m_tickets;
    m_jobs.post([this, ticket, snapshot = std::move(snapshot)] {
        const std::optional<QString> error = writeNow(snapshot);
        {
            std::lock_guard lock(m_errorMutex);
            m_lastError = error;
        }
        // Delivered on the owner's thread; dropped if the owner is gone.
        QMetaObject::invokeMethod(
            this, [this, ticket, error] { Q_EMIT written(ticket, error); }, Qt::QueuedConnection);
    });
    return ticket;
}

std::optional<QString> StoreWriter::waitForAll() {
    m_jobs.waitForAll();
    std::lock_guard lock(m_errorMutex);
    return m_lastError;
}

std::optional<QString> StoreWriter::writeNow(const StoreContents& snapshot) const {
    const QString dir = QFileInfo(m_path).absolutePath();
    if (!QFileInfo(dir).isDir() && QDir().mkpath(dir))
        QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                       QFileDevice::ExeOwner);
    const auto written = AtomicFile::write(m_path, StoreCodec::encode(snapshot));
    if (!written)
        return written.error();
    return std::nullopt;
}
