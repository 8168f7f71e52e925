#pragma once

#include "core/sync/Peer.h"
#include "core/sync/PeerClockGuard.h"
#include "core/sync/SyncContext.h"
#include "core/sync/SyncPayload.h"

#include <QList>
#include <QObject>
#include <functional>
#include <optional>
#include <utility>

// Pinned clips: the whole snapshot of pins and recent unpins goes to every
// device that speaks it whenever ours changes, and each snapshot that
// arrives is handed over for merging.
class PinSync : public QObject {
    Q_OBJECT
public:
    using Snapshot = std::pair<QList<SyncPinPayload>, QList<SyncUnpinPayload>>;

    PinSync(SyncContext& context, const Peers& peers, PeerClockGuard& peerClock,
            QObject* parent = nullptr);

    // The local pin snapshot, asked for whenever one is to be sent.
    std::function<Snapshot()> snapshot;

    // Our snapshot as one message; nothing while there is nothing to say or
    // nothing may be sent.
    std::optional<SyncMessage> message() const;
    // The local pins changed, or a snapshot from `excluding` changed them.
    void broadcast(const std::optional<QString>& excluding);
    void receive(const Peer& peer, SyncPinSnapshot received);

Q_SIGNALS:
    void remotePinsReceived(const QList<SyncPinPayload>& pins,
                            const QList<SyncUnpinPayload>& unpinned,
                            const std::optional<QString>& fromPeer);

private:
    std::optional<SyncPinSnapshot> payload() const;

    SyncContext& m_context;
    const Peers& m_peers;
    PeerClockGuard& m_peerClock;
};
