#include "platform/xdg/IniSettingsStore.h"

#include <QFile>
#include <QFileInfo>

#include "platform/xdg/XdgPaths.h"

IniSettingsStore::IniSettingsStore(const QString& path)
    : m_path(path), m_settings(path, QSettings::IniFormat) {
    XdgPaths::ensurePrivateDir(QFileInfo(path).absolutePath());
    // Create the file private before the first write, so its content is
    // never readable by others, even for a moment.
    if (!QFileInfo::exists(path)) {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.close();
    }
    restrictPermissions();
}

IniSettingsStore::~IniSettingsStore() {
    sync();
}

QVariant IniSettingsStore::value(const QString& key) const {
    return m_settings.value(key);
}

void IniSettingsStore::setValue(const QString& key, const QVariant& value) {
    m_settings.setValue(key, value);
}

void IniSettingsStore::remove(const QString& key) {
    m_settings.remove(key);
}

bool IniSettingsStore::contains(const QString& key) const {
    return m_settings.contains(key);
}

void IniSettingsStore::sync() {
    m_settings.sync();
    restrictPermissions();
}

void IniSettingsStore::restrictPermissions() {
    if (QFileInfo::exists(m_path))
        QFile::setPermissions(m_path, QFile::ReadOwner | QFile::WriteOwner);
}
