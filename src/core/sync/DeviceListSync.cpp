#include "core/sync/DeviceListSync.h"

#include "core/sync/SyncCrypto.h"
#include "core/sync/SyncIdentity.h"
#include "core/sync/SyncLog.h"
#include "core/sync/SyncPeerStore.h"
#include "core/util/SettingValue.h"
#include "platform/SettingsStore.h"

#include <QJsonArray>
#include <QJsonDocument>

using namespace Qt::StringLiterals;

namespace {
const QString unpairedKey = u"syncUnpairedIds"_s;
}

DeviceListSync::DeviceListSync(SyncContext& context, const Peers& peers, SettingsStore& settings,
                               QObject* parent)
    : QObject(parent), m_context(context), m_peers(peers), m_settings(settings) {
    load();
}

std::optional<SyncMessage> DeviceListSync::message(const QString& peerId) const {
    QList<SyncDevicePayload> entries;
    for (const SyncDevice& device : m_context.peerStore.peers())
        if (device.id != peerId)
            entries.append(device.payload());
    if (entries.isEmpty())
        return std::nullopt;
    return syncMessageOf(SyncRoster{std::move(entries)});
}

void DeviceListSync::broadcast() {
    for (const std::shared_ptr<Peer>& peer : m_peers) {
        if (!peer->speaks(2))
            continue;
        if (const std::optional<SyncMessage> list = message(peer->id()))
            peer->send(*list);
    }
}

void DeviceListSync::receive(const Peer& peer, const SyncRoster& list) {
    const std::optional<SyncDevice> device = m_context.peerStore.peer(peer.id());
    merge(list.devices, peer.id(), device ? device->name : QString());
}

void DeviceListSync::merge(const QList<SyncDevicePayload>& entries, const QString& sourceId,
                           const QString& sourceName) {
    SyncPeerStore& store = m_context.peerStore;
    const QString ownId = m_context.identity.deviceId();
    const QString source = sourceName.isEmpty() ? u"a paired device"_s : sourceName;
    QStringList added;
    QStringList leftOut;
    // A real list brings a device or two at a time. One message, and one
    // peer while we run, add only a few, and never past half the store: a
    // lying peer must not crowd out the devices the user pairs by hand.
    qsizetype budget =
        std::min(maxRosterAddsPerMessage, maxRosterAddsPerPeer - m_addsByPeer.value(sourceId));
    // No device has more than this many peers; the rest of a longer list is
    // not looked at.
    const qsizetype count = std::min(entries.size(), maxRosterEntries);
    for (qsizetype i = 0; i < count; ++i) {
        const SyncDevicePayload& entry = entries.at(i);
        if (entry.id == ownId || m_unpairedIds.contains(entry.id) ||
            !SyncCrypto::decodeKey(entry.key))
            continue;
        const std::optional<SyncDevice> known = store.peer(entry.id);
        if (!known) {
            if (budget <= 0 || store.peers().size() >= maxRosterDevices) {
                leftOut.append(SyncDevice::cleanName(entry.name));
                continue;
            }
            if (store.upsert(SyncDevice::fromPayload(entry))) {
                added.append(store.peer(entry.id)->name);
                --budget;
                ++m_addsByPeer[sourceId];
            }
            continue;
        }
        const QString name = SyncDevice::cleanName(entry.name);
        const std::optional<QString> platform =
            entry.platform ? std::optional(SyncDevice::cleanName(*entry.platform))
                           : known->platform;
        if (name == known->name && platform == known->platform)
            continue;
        SyncDevice renamed = *known;
        renamed.name = name;
        renamed.platform = platform;
        store.upsert(renamed);
    }
    if (!leftOut.isEmpty()) {
        constexpr qsizetype named = 5;
        SyncLog::write(u"left out "_s + QString::number(leftOut.size()) +
                       u" new device(s) from the list of "_s + source + u" ("_s +
                       leftOut.first(std::min(named, leftOut.size())).join(u", "_s) +
                       (leftOut.size() > named ? u", …"_s : QString()) +
                       u"): a list adds at most "_s + QString::number(maxRosterAddsPerMessage) +
                       u" at a time and "_s + QString::number(maxRosterAddsPerPeer) +
                       u" per device, and only while fewer than "_s +
                       QString::number(maxRosterDevices) + u" are paired"_s);
    }
    Q_EMIT devicesChanged();
    if (added.isEmpty())
        return;
    m_context.say(u"Added "_s + added.join(u", "_s) + u" — synced from "_s + source);
    Q_EMIT devicesAdded();
}

void DeviceListSync::forget(const QString& id) {
    m_unpairedIds.removeAll(id);
    m_unpairedIds.append(id);
    while (m_unpairedIds.size() > maxUnpairedIds)
        m_unpairedIds.removeFirst();
    save();
}

void DeviceListSync::allow(const QString& id) {
    if (m_unpairedIds.removeAll(id) > 0)
        save();
}

void DeviceListSync::load() {
    const std::optional<QByteArray> bytes = SettingValue::toBytes(m_settings.value(unpairedKey));
    if (!bytes)
        return;
    for (const QJsonValue& value : QJsonDocument::fromJson(*bytes).array())
        if (value.isString() && m_unpairedIds.size() < maxUnpairedIds)
            m_unpairedIds.append(value.toString());
}

void DeviceListSync::save() {
    m_settings.setValue(
        unpairedKey,
        QJsonDocument(QJsonArray::fromStringList(m_unpairedIds)).toJson(QJsonDocument::Compact));
    m_settings.sync();
}
