#pragma once

#include "core/sync/Peer.h"
#include "core/sync/PeerClockGuard.h"
#include "core/sync/ReplayGuard.h"
#include "core/sync/SyncContext.h"

#include <QList>
#include <QObject>
#include <QString>
#include <memory>

class Clip;

// Copied clips: each local copy goes to every device we reach, over its best
// link; each clip that arrives is handed over once, whichever way it came,
// and never travels back.
class ClipSync : public QObject {
    Q_OBJECT
public:
    static constexpr qsizetype recentHashLimit = 200;

    ClipSync(SyncContext& context, const Peers& peers, PeerClockGuard& peerClock,
             const QString& receivedClipsPath, QObject* parent = nullptr);

    // A local copy; sent unless sending is off or the same text went out or
    // came in lately.
    void broadcast(const Clip& clip);
    // A clip (or its ack) from `peer` over `link`.
    void receive(const Peer& peer, PeerLink& link, const SyncMessage& message);

    // Hashes of clips sent or received lately, oldest first.
    const QList<QString>& recentHashes() const { return m_recentHashes; }

Q_SIGNALS:
    // A clip from another device, to become the clipboard's content.
    void remoteClipReceived(const QString& text, const QString& senderName);

private:
    bool admit(const SyncMessage& message, const QString& peerId, const QString& peerName);
    void remember(const QString& hash);

    SyncContext& m_context;
    const Peers& m_peers;
    PeerClockGuard& m_peerClock;
    std::unique_ptr<ReplayGuard> m_replayGuard;
    QList<QString> m_recentHashes;
};
