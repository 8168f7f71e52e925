#include "platform/xdg/XdgPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace {
QString fromEnv(const char* name, const QString& fallbackUnderHome) {
    const QString value = qEnvironmentVariable(name);
    // The XDG rules say relative values are invalid and must be ignored.
    if (!value.isEmpty() && QDir::isAbsolutePath(value))
        return QDir::cleanPath(value);
    return QDir::homePath() + u'/' + fallbackUnderHome;
}

QString inAppDir(const QString& base, const QString& fileName) {
    const QString dir = base + u"/Tindrel"_s;
    XdgPaths::ensurePrivateDir(dir);
    return dir + u'/' + fileName;
}
} // namespace

QString XdgPaths::configHome() {
    return fromEnv("XDG_CONFIG_HOME", u".config"_s);
}
QString XdgPaths::dataHome() {
    return fromEnv("XDG_DATA_HOME", u".local/share"_s);
}
QString XdgPaths::stateHome() {
    return fromEnv("XDG_STATE_HOME", u".local/state"_s);
}

QString XdgPaths::settingsFile() {
    return inAppDir(configHome(), u"Tindrel.conf"_s);
}
QString XdgPaths::storeFile() {
    return inAppDir(dataHome(), u"store.json"_s);
}
QString XdgPaths::syncLogFile() {
    return inAppDir(stateHome(), u"sync.log"_s);
}
QString XdgPaths::syncReceivedClipsFile() {
    return inAppDir(stateHome(), u"sync-received"_s);
}
QString XdgPaths::syncOutboxFile() {
    return inAppDir(dataHome(), u"sync-outbox.json"_s);
}
QString XdgPaths::autostartDir() {
    return configHome() + u"/autostart"_s;
}

bool XdgPaths::ensurePrivateDir(const QString& path) {
    if (QFileInfo(path).isDir())
        return true;
    if (!QDir().mkpath(path))
        return false;
    return QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}
