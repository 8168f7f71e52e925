#pragma once

#include "core/sync/SyncDevice.h"

#include <QList>
#include <QString>
#include <optional>

class Clock;
class SettingsStore;

// The devices this one is paired with, kept in the settings under
// "syncPeers" as a JSON array. Every change is saved and flushed at once:
// a pairing must not be forgotten by a crash.
class SyncPeerStore {
public:
    static constexpr qsizetype maxDevices = 64;

    SyncPeerStore(SettingsStore& settings, const Clock& clock);

    const QList<SyncDevice>& peers() const { return m_peers; }
    std::optional<SyncDevice> peer(const QString& id) const;

    // Replaces the device with the same id in place, keeping its stored
    // lastSeen and enabled where the new record has none; or appends it.
    // Refused (false, nothing changes) when the id is empty or too long, the
    // key is not 32 bytes of Base64, or maxDevices are already paired.
    bool upsert(SyncDevice device);
    // lastSeen = now; nothing for an unknown id.
    void touch(const QString& id);
    // Nothing for an unknown id.
    void setEnabled(bool enabled, const QString& id);
    // What the device said it speaks; saved only when it changed.
    void setSpeaks(const QString& id, qint64 protocol, const QStringList& capabilities);
    // Removes every device with that id; saves even when none was there.
    void remove(const QString& id);

private:
    void load();
    void persist();

    SettingsStore& m_settings;
    const Clock& m_clock;
    QList<SyncDevice> m_peers;
};
