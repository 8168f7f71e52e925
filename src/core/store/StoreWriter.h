#pragma once

#include "core/store/StoreContents.h"

#include <QObject>
#include <QString>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

// Encodes and writes store snapshots atomically on a thread of its own, so a
// save costs the GUI thread only the snapshot. Snapshots are written in the
// order they were handed over; one that a newer snapshot overtakes before its
// turn is skipped, since the newer one holds everything it would have written.
class StoreWriter : public QObject {
    Q_OBJECT
public:
    explicit StoreWriter(QString path, QObject* parent = nullptr);
    // Writes what is still queued first.
    ~StoreWriter() override;

    // Queues a snapshot and returns its ticket (1, 2, …).
    quint64 write(StoreContents snapshot);
    // Blocks until everything queued so far is on disk or has failed; the
    // error of the last write, none when it succeeded.
    std::optional<QString> waitForAll();

Q_SIGNALS:
    // On the owner's thread, once per write done (not per skipped snapshot).
    void written(quint64 ticket, const std::optional<QString>& error);

private:
    void run();
    std::optional<QString> writeNow(const StoreContents& snapshot) const;

    const QString m_path;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::optional<StoreContents> m_next;
    quint64 m_queued = 0;
    quint64 m_finished = 0;
    std::optional<QString> m_lastError;
    bool m_stopping = false;
    std::thread m_thread;
};
