#pragma once

#include "core/sync/SyncMessage.h"

#include <QObject>
#include <QString>
#include <functional>

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

    // Adds to each message sent from now on what the device at the other end
    // checks; set once sync knows that device.
    void setStamp(std::function<void(SyncMessage&)> stamp) { m_stamp = std::move(stamp); }
    // A kind as stamps name it.
    static QString nameOf(Kind kind) {
        return kind == Kind::direct ? QStringLiteral("direct") : QStringLiteral("relay");
    }

Q_SIGNALS:
    // Each message that opened with the link's key, queued, in arrival order.
    void messageReceived(const SyncMessage& message);

protected:
    // The message as it goes out.
    SyncMessage stamped(SyncMessage message) const {
        if (m_stamp)
            m_stamp(message);
        return message;
    }

private:
    std::function<void(SyncMessage&)> m_stamp;
};
