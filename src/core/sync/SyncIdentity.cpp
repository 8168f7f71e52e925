#include "core/sync/SyncIdentity.h"

#include "core/sync/SyncCrypto.h"
#include "core/sync/SyncDevice.h"
#include "core/util/Log.h"
#include "core/util/SettingValue.h"
#include "platform/SettingsStore.h"

#include <QRegularExpression>
#include <QUuid>

using namespace Qt::StringLiterals;

namespace {
const QString idKey = u"syncDeviceId"_s;
const QString nameKey = u"syncDeviceName"_s;
const QString keyKey = u"syncDeviceKey"_s;

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
        m_deviceName = u"Linux"_s;

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
    const QString stored = storedString(m_settings, keyKey);
    if (const auto key = SyncCrypto::decodeKey(stored)) {
        m_deviceKey = *key;
        return;
    }
    // Our peers hold this key: a hand-edited spelling of the same 32 bytes
    // (spaces, a line break, padding left out) is kept, in its usual form.
    QString compact = stored;
    compact.remove(QRegularExpression(u"\\s"_s));
    const auto lenient =
        QByteArray::fromBase64Encoding(compact.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (lenient && lenient.decoded.size() == SyncCrypto::keySize) {
        m_deviceKey = lenient.decoded;
        m_settings.setValue(keyKey, QString::fromLatin1(m_deviceKey.toBase64()));
        m_settings.sync();
        return;
    }
    // A key of any other size would never match what peers expect; it is
    // replaced like a missing one.
    const auto fresh = SyncCrypto::randomKey();
    if (!fresh)
        return;
    if (!stored.isEmpty())
        Log::write(u"Tindrel: the device key in \"syncDeviceKey\" is not a 32-byte "
                   "key; a new one was made and paired devices must pair again"_s);
    m_deviceKey = *fresh;
    m_settings.setValue(keyKey, QString::fromLatin1(m_deviceKey.toBase64()));
    m_settings.sync();
}
