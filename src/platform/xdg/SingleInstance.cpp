#include "platform/xdg/SingleInstance.h"

#include <QDir>
#include <QFile>
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

SingleInstance::Claim SingleInstance::claim() {
    const QString dir = QFileInfo(m_lock.fileName()).absolutePath();
    if (!QDir().mkpath(dir)) {
        m_problem = u"the folder %1 cannot be created"_s.arg(dir);
        return Claim::Unavailable;
    }
    if (!m_lock.tryLock(0)) {
        switch (m_lock.error()) {
        case QLockFile::LockFailedError:
            return Claim::HeldByAnother;
        case QLockFile::PermissionError:
            m_problem = u"no permission to create %1"_s.arg(m_lock.fileName());
            return Claim::Unavailable;
        case QLockFile::NoError:
        case QLockFile::UnknownError:
            break;
        }
        m_problem = u"%1 cannot be created (is the disk full?)"_s.arg(m_lock.fileName());
        return Claim::Unavailable;
    }
    // It names this process and machine; private like every file of ours.
    QFile::setPermissions(m_lock.fileName(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return Claim::Won;
}
