#pragma once

#include "core/sync/SyncClipPayload.h"

#include <QList>
#include <QString>
#include <QTimer>
#include <memory>

class LatestJobThread;

// The copies made here lately, kept so that a device that could not be
// reached when they were made gets them once it is back: up to as many as
// the history holds and within a text budget, oldest dropped first. Kept in
// a file of its own, so a restart before the other device is back loses
// nothing; a file that cannot be read starts it empty. A stream of copies
// is written once it pauses (at most a second later), by a worker thread.
class ClipOutbox {
public:
    // UTF-16 code units of text, about 16 MiB.
    static constexpr qsizetype maxTextUnits = 8 * 1024 * 1024;

    // An empty path keeps the copies for this run only.
    explicit ClipOutbox(QString path = {});
    // Writes what is waiting and waits for it.
    ~ClipOutbox();
    ClipOutbox(const ClipOutbox&) = delete;
    ClipOutbox& operator=(const ClipOutbox&) = delete;

    // Keeps a copy, and at most `limit` of them.
    void append(const SyncClipPayload& clip, qsizetype limit);
    // The copies made after `time` (seconds since 1970), oldest first, at
    // most `limit` (the newest of them).
    QList<SyncClipPayload> after(double time, qsizetype limit) const;
    // Blocks until what was handed to the worker is on disk.
    void flush();

private:
    void load();
    void save();

    QString m_path;
    QList<SyncClipPayload> m_clips; // oldest first
    qsizetype m_textUnits = 0;
    std::unique_ptr<LatestJobThread> m_writer;
    QTimer m_saveTimer;
};
