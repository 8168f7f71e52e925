#pragma once

#include "core/sync/SyncMessage.h"

#include <QObject>
#include <QString>

// One way of reaching a paired device: a direct connection on the local
// network or a room on the relay. A device may have several at once; its
// Peer sends over the best one that works.
class PeerLink : public QObject {
    Q_OBJECT
public:
    // In order of preference: a direct link keeps every byte off the relay.
    enum class Kind { direct, relay };

    using QObject::QObject;

    virtual Kind kind() const = 0;
    // The device at the other end; empty while not yet known.
    virtual QString remoteId() const = 0;
    // Whether a message sent now has a way out.
    virtual bool isUsable() const = 0;
    // Seals and sends one message over this link; fire and forget.
    virtual void send(const SyncMessage& message) = 0;

Q_SIGNALS:
    // Each message that opened with the link's key, queued, in arrival order.
    void messageReceived(const SyncMessage& message);
};
