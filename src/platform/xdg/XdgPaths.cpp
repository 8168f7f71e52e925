#include "platform/xdg/XdgPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {
QString fromEnv(const char* name, const QString& fallbackUnderHome) {
    const QString value = qEnvironmentVariable(name);
    // The XDG rules say relative values are invalid and must be ignored.
    if (!value.isEmpty() && QDir::isAbsolutePath(value))
        return QDir::cleanPath(value);
    return QDir::homePath() + u'/' + fallbackUnderHome;
}

QString inAppDir(const QString& base, const QString& fileName) {
    const QString dir = base + QStringLiteral("/Tindrel");
    XdgPaths::ensurePrivateDir(dir);
    return dir + u'/' + fileName;
}
} // namespace

QString XdgPaths::configHome() {
    return fromEnv("XDG_CONFIG_HOME", QStringLiteral(".config"));
}
QString XdgPaths::dataHome() {
    return fromEnv("XDG_DATA_HOME", QStringLiteral(".local/share"));
}
QString XdgPaths::stateHome() {
    return fromEnv("XDG_STATE_HOME", QStringLiteral(".local/state"));
}

QString XdgPaths::settingsFile() {
    return inAppDir(configHome(), QStringLiteral("Tindrel.conf"));
}
QString XdgPaths::storeFile() {
    return inAppDir(dataHome(), QStringLiteral("store.json"));
}
QString XdgPaths::syncLogFile() {
    return inAppDir(stateHome(), QStringLiteral("sync.log"));
}
QString XdgPaths::autostartDir() {
    return configHome() + QStringLiteral("/autostart");
}

bool XdgPaths::ensurePrivateDir(const QString& path) {
    if (QFileInfo(path).isDir())
        return true;
    if (!QDir().mkpath(path))
        return false;
    return QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}
