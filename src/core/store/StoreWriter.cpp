#include "core/store/StoreWriter.h"

#include "core/store/StoreCodec.h"
#include "core/util/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>

StoreWriter::StoreWriter(QString path, QObject* parent)
    : QObject(parent), m_path(std::move(path)), m_thread([this] { run(); }) {}

StoreWriter::~StoreWriter() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

quint64 StoreWriter::write(StoreContents snapshot) {
    quint64 ticket = 0;
    {
        std::lock_guard lock(m_mutex);
        m_next = std::move(snapshot);
        ticket = ++m_queued;
    }
    m_changed.notify_all();
    return ticket;
}

std::optional<QString> StoreWriter::waitForAll() {
    std::unique_lock lock(m_mutex);
    const quint64 target = m_queued;
    m_changed.wait(lock, [&] { return m_finished >= target; });
    return m_lastError;
}

void StoreWriter::run() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_stopping || m_next.has_value(); });
        if (!m_next)
            return; // stopping, and nothing left to write
        const StoreContents snapshot = std::move(*m_next);
        m_next.reset();
        const quint64 ticket = m_queued;
        lock.unlock();

        const std::optional<QString> error = writeNow(snapshot);

        lock.lock();
        m_finished = ticket;
        m_lastError = error;
        m_changed.notify_all();
        // Delivered on the owner's thread; dropped if the owner is gone.
        QMetaObject::invokeMethod(
            this, [this, ticket, error] { Q_EMIT written(ticket, error); }, Qt::QueuedConnection);
    }
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
