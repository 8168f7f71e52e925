#pragma once

#include "core/sync/SyncLog.h"

#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;

// Points the sync log at a temporary file while it lives and reads back the
// messages written to it, time stamps stripped.
class SyncLogCapture {
public:
    SyncLogCapture() { SyncLog::setFilePath(m_dir.filePath(u"sync.log"_s)); }
    ~SyncLogCapture() {
        SyncLog::setFilePath(QString());
        SyncLog::flush();
    }
    SyncLogCapture(const SyncLogCapture&) = delete;
    SyncLogCapture& operator=(const SyncLogCapture&) = delete;

    QStringList messages() const {
        SyncLog::flush();
        QFile file(m_dir.filePath(u"sync.log"_s));
        QStringList out;
        if (!file.open(QIODevice::ReadOnly))
            return out;
        // "HH:mm:ss.zzz" and two spaces precede each message.
        for (const QByteArray& line : file.readAll().split('\n'))
            if (line.size() > 14)
                out.append(QString::fromUtf8(line.mid(14)));
        return out;
    }
    bool contains(const QString& fragment) const { return count(fragment) > 0; }
    int count(const QString& fragment) const {
        int n = 0;
        for (const QString& message : messages())
            if (message.contains(fragment))
                ++n;
        return n;
    }

private:
    QTemporaryDir m_dir;
};
