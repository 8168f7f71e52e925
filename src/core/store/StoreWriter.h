#pragma once

#include "core/store/StoreContents.h"
#include "core/util/LatestJobThread.h"

#include <QObject>
#include <QString>
#include <mutex>
#include <optional>

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
    std::optional<QString> writeNow(const StoreContents& snapshot) const;

    const QString m_path;
    quint64 m_tickets = 0; // the owner's count of snapshots handed over
    std::mutex m_errorMutex;
    std::optional<QString> m_lastError;
    LatestJobThread m_jobs; // last: goes first, writing what is queued
};
