#pragma once

#include <QByteArray>
#include <QString>

class SettingsStore;

// This device as its peers know it: a fixed id, a secret 32-byte key and a
// name the user may change. Created on first use and kept in the settings
// ("syncDeviceId", "syncDeviceKey", "syncDeviceName"); each write is
// flushed at once, because a key already handed to a peer must survive a
// crash.
class SyncIdentity {
public:
    // computerName is what to call this device until the user names it;
    // empty means "Linux".
    SyncIdentity(SettingsStore& settings, const QString& computerName);

    QString deviceId() const { return m_deviceId; }
    // Empty only while the secure generator fails; asking again retries.
    QByteArray deviceKey() const;
    QString deviceKeyBase64() const { return QString::fromLatin1(deviceKey().toBase64()); }
    QString deviceName() const { return m_deviceName; }
    // Stores the cleaned name. An empty one changes nothing: returns false.
    bool setDeviceName(const QString& name);

private:
    void ensureKey() const;

    SettingsStore& m_settings;
    QString m_deviceId;
    QString m_deviceName;
    mutable QByteArray m_deviceKey;
};
