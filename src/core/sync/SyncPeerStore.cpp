#include "core/sync/SyncPeerStore.h"

#include "core/sync/SyncCrypto.h"
#include "core/util/Log.h"
#include "core/util/SettingValue.h"
#include "core/util/Utf8.h"
#include "platform/Clock.h"
#include "platform/SettingsStore.h"

#include <QJsonArray>
#include <QJsonDocument>

using namespace Qt::StringLiterals;

namespace {
const QString peersKey = u"syncPeers"_s;
const QString damagedKey = u"syncPeersDamaged"_s;

bool isUsable(const SyncDevice& device) {
    return !device.id.isEmpty() && device.id.size() <= SyncDevice::maxIdLength &&
           SyncCrypto::decodeKey(device.keyBase64).has_value();
}
} // namespace

SyncPeerStore::SyncPeerStore(SettingsStore& settings, const Clock& clock)
    : m_settings(settings), m_clock(clock) {
    load();
}

std::optional<SyncDevice> SyncPeerStore::peer(const QString& id) const {
    for (const SyncDevice& device : m_peers)
        if (device.id == id)
            return device;
    return std::nullopt;
}

bool SyncPeerStore::upsert(SyncDevice device) {
    device.name = SyncDevice::cleanName(device.name);
    if (device.platform)
        device.platform = SyncDevice::cleanName(*device.platform);
    if (!isUsable(device))
        return false;
    auto it = std::find_if(m_peers.begin(), m_peers.end(),
                           [&](const SyncDevice& stored) { return stored.id == device.id; });
    if (it != m_peers.end()) {
        if (!device.lastSeen)
            device.lastSeen = it->lastSeen;
        if (!device.enabled)
            device.enabled = it->enabled;
        if (!device.protocol) {
            device.protocol = it->protocol;
            device.capabilities = it->capabilities;
        }
        *it = std::move(device);
    } else {
        if (m_peers.size() >= maxDevices)
            return false;
        m_peers.append(std::move(device));
    }
    persist();
    return true;
}

void SyncPeerStore::touch(const QString& id) {
    for (SyncDevice& device : m_peers) {
        if (device.id == id) {
            device.lastSeen = m_clock.now();
            persist();
            return;
        }
    }
}

void SyncPeerStore::setEnabled(bool enabled, const QString& id) {
    for (SyncDevice& device : m_peers) {
        if (device.id == id) {
            device.enabled = enabled;
            persist();
            return;
        }
    }
}

void SyncPeerStore::setSpeaks(const QString& id, qint64 protocol, const QStringList& capabilities) {
    for (SyncDevice& device : m_peers) {
        if (device.id != id)
            continue;
        if (device.protocol == protocol && device.capabilities == capabilities)
            return;
        device.protocol = protocol;
        device.capabilities = capabilities;
        persist();
        return;
    }
}

void SyncPeerStore::remove(const QString& id) {
    m_peers.removeIf([&](const SyncDevice& device) { return device.id == id; });
    persist();
}

void SyncPeerStore::load() {
    if (!m_settings.contains(peersKey))
        return;
    const QVariant raw = m_settings.value(peersKey);
    bool damaged = true;
    if (const auto bytes = SettingValue::toBytes(raw)) {
        QJsonParseError error;
        const QJsonDocument document = Utf8::parseJson(*bytes, &error);
        if (error.error == QJsonParseError::NoError && document.isArray()) {
            QList<SyncDevice> devices;
            bool whole = true;
            bool complete = true;
            for (const QJsonValue& value : document.array()) {
                std::optional<SyncDevice> device = SyncDevice::fromJson(value);
                if (!device) {
                    whole = false;
                    break;
                }
                device->name = SyncDevice::cleanName(device->name);
                // Devices we could never talk to are left out, but the
                // stored value is kept below so nothing is lost for good.
                if (!isUsable(*device) || devices.size() >= maxDevices) {
                    complete = false;
                    continue;
                }
                devices.append(std::move(*device));
            }
            if (whole) {
                m_peers = std::move(devices);
                damaged = !complete;
            }
        }
    }
    if (!damaged)
        return;
    // Keep the unreadable value where the next save cannot overwrite it.
    if (m_settings.value(damagedKey) != raw) {
        m_settings.setValue(damagedKey, raw);
        m_settings.sync();
    }
    Log::write(u"Tindrel: paired devices in \"syncPeers\" could not all be read; "
               "the stored value was copied to \"syncPeersDamaged\""_s);
}

void SyncPeerStore::persist() {
    QJsonArray array;
    for (const SyncDevice& device : m_peers)
        array.append(device.toJson());
    m_settings.setValue(peersKey, QJsonDocument(array).toJson(QJsonDocument::Compact));
    m_settings.sync();
}
