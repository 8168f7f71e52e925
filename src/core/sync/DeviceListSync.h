#pragma once

#include "core/sync/Peer.h"
#include "core/sync/SyncContext.h"
#include "core/sync/SyncPayload.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <optional>

class SettingsStore;

// The list of paired devices, gossiped: each device passes its list to its
// peers, and a device that learns of a new one stores it and passes the list
// on. What one list may add is bounded, and a device the user unpaired is
// never brought back by someone else's list.
class DeviceListSync : public QObject {
    Q_OBJECT
public:
    static constexpr qsizetype maxRosterEntries = 64;
    static constexpr qsizetype maxUnpairedIds = 256;
    // What device lists may add: a few per message and per peer, and only
    // while well under the store's own bound.
    static constexpr qsizetype maxRosterAddsPerMessage = 4;
    static constexpr qsizetype maxRosterAddsPerPeer = 8;
    static constexpr qsizetype maxRosterDevices = 32;

    DeviceListSync(SyncContext& context, const Peers& peers, SettingsStore& settings,
                   QObject* parent = nullptr);

    // Our list for one device (without that device), or nothing when empty.
    std::optional<SyncMessage> message(const QString& peerId) const;
    // To every device that speaks device lists.
    void broadcast();
    void receive(const Peer& peer, const SyncRoster& list);

    // Ids the user unpaired; device lists do not bring them back.
    QStringList unpairedIds() const { return m_unpairedIds; }
    void forget(const QString& id);
    // Paired again by the user: that overrides the earlier unpair.
    void allow(const QString& id);

Q_SIGNALS:
    // A list changed what we know of our devices.
    void devicesChanged();
    // A list added devices we did not know.
    void devicesAdded();

private:
    void merge(const QList<SyncDevicePayload>& entries, const QString& sourceId,
               const QString& sourceName);
    void load();
    void save();

    SyncContext& m_context;
    const Peers& m_peers;
    SettingsStore& m_settings;
    QStringList m_unpairedIds;
    // New devices each peer's lists have added since we started.
    QHash<QString, qsizetype> m_addsByPeer;
};
