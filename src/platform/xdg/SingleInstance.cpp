#include "platform/xdg/SingleInstance.h"

#include <QDir>
#include <QFileInfo>

using namespace Qt::StringLiterals;

SingleInstance::SingleInstance(const QString& lockPath) : m_lock(lockPath) {
    // A lock left by a crashed process is taken over at once (QLockFile
    // checks whether its owner still runs), never after a wait.
    m_lock.setStaleLockTime(0);
}

QString SingleInstance::lockPathFor(const QString& storePath) {
    return storePath + u".lock"_s;
}

bool SingleInstance::claim() {
    QDir().mkpath(QFileInfo(m_lock.fileName()).absolutePath());
    return m_lock.tryLock(0);
}
