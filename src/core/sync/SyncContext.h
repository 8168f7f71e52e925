#pragma once

#include "core/sync/SyncDevice.h"
#include "core/sync/SyncMessage.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>

class Clock;
class Preferences;
class SyncIdentity;
class SyncPeerStore;

// What every part of sync shares: the settings it reads, who we are, the
// devices we are paired with, whether sync runs, and the one line of news
// the sync pane shows. Owned by the service; the parts hold a reference.
struct SyncContext {
    Preferences& prefs;
    const Clock& clock;
    SyncIdentity& identity;
    SyncPeerStore& peerStore;
    bool running = false;
    // Sets the service's last event (and writes it to the sync log).
    std::function<void(const QString&)> say;
    // The last event said, so that a part can leave out a repeat.
    QString lastEvent;

    // The key we share with a paired device; nothing for a key that does
    // not decode, or for our own id (a hand-edited store).
    std::optional<QByteArray> sessionKey(const SyncDevice& device) const;
    // A message that claims to come from this device.
    bool isOwnOrigin(const SyncMessage& message) const;
};
