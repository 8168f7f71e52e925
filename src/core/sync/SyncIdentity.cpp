#include "core/sync/SyncIdentity.h"

#include "core/sync/SyncCrypto.h"
#include "core/sync/SyncDevice.h"
#include "core/util/SettingValue.h"
#include "platform/SettingsStore.h"

#include <QUuid>

namespace {
const QString idKey = QStringLiteral("syncDeviceId");
const QString nameKey = QStringLiteral("syncDeviceName");
const QString keyKey = QStringLiteral("syncDeviceKey");

QString storedString(const SettingsStore& settings, const QString& key) {
    return SettingValue::toString(settings.value(key)).value_or(QString());
}
} // namespace

SyncIdentity::SyncIdentity(SettingsStore& settings, const QString& computerName)
    : m_settings(settings) {
    m_deviceId = storedString(m_settings, idKey);
    if (m_deviceId.isEmpty() || m_deviceId.size() > SyncDevice::maxIdLength) {
        m_deviceId = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
        m_settings.setValue(idKey, m_deviceId);
        m_settings.sync();
    }

    // A name taken from the computer is not stored: it follows the computer.
    m_deviceName = SyncDevice::cleanName(storedString(m_settings, nameKey));
    if (m_deviceName.trimmed().isEmpty())
        m_deviceName = SyncDevice::cleanName(computerName);
    if (m_deviceName.trimmed().isEmpty())
        m_deviceName = QStringLiteral("Linux");

    ensureKey();
}

QByteArray SyncIdentity::deviceKey() const {
    ensureKey();
    return m_deviceKey;
}

bool SyncIdentity::setDeviceName(const QString& name) {
    const QString cleaned = SyncDevice::cleanName(name);
    if (cleaned.trimmed().isEmpty())
        return false;
    m_deviceName = cleaned;
    m_settings.setValue(nameKey, m_deviceName);
    m_settings.sync();
    return true;
}

void SyncIdentity::ensureKey() const {
    if (!m_deviceKey.isEmpty())
        return;
    // A stored key of any other size than 32 bytes would never match what
    // peers expect; it is replaced like a missing one.
    if (const auto stored = SyncCrypto::decodeKey(storedString(m_settings, keyKey))) {
        m_deviceKey = *stored;
        return;
    }
    const auto fresh = SyncCrypto::randomKey();
    if (!fresh)
        return;
    m_deviceKey = *fresh;
    m_settings.setValue(keyKey, QString::fromLatin1(m_deviceKey.toBase64()));
    m_settings.sync();
}
