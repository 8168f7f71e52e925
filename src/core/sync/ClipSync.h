#pragma once

#include "core/sync/ClipOutbox.h"
#include "core/sync/Peer.h"
#include "core/sync/PeerClockGuard.h"
#include "core/sync/ReplayGuard.h"
#include "core/sync/SyncContext.h"
#include "core/sync/SyncPayload.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <chrono>
#include <memory>

class Clip;

// Copied clips: each local copy goes to every device we reach, over its best
// link; each clip that arrives is handed over once, whichever way it came,
// and never travels back.
//
// Between devices that can catch up, no copy is lost to an outage: each
// local copy is also kept (ClipOutbox), and whenever a link to a device
// comes up or one of several goes, we ask it for what it copied since the
// newest clip we took from it. Its answer enters the history oldest first;
// the newest becomes the clipboard unless something newer was copied here.
// Live clips from that device wait until the answer is in, so the history
// keeps their order.
class ClipSync : public QObject {
    Q_OBJECT
public:
    static constexpr qsizetype recentHashLimit = 200;

    // Asked for copies before the newest clip taken, in case the store had
    // not saved those when this program last ended.
    static constexpr double catchUpOverlap = 60.0;
    // An answer that does not come in this time is given up.
    static constexpr std::chrono::seconds catchUpWait{15};
    // Live clips held back per device while its answer is awaited.
    static constexpr qsizetype maxHeldBack = 1024;

    ClipSync(SyncContext& context, const Peers& peers, PeerClockGuard& peerClock,
             ReplayGuard& replayGuard, const QString& outboxPath, QObject* parent = nullptr);

    // A local copy; sent unless sending is off or the same text went out or
    // came in lately.
    void broadcast(const Clip& clip);
    // A clip from `peer` over `link`.
    void receive(const Peer& peer, PeerLink& link, const SyncClip& clip);
    // Asks a device that can catch up for what we missed of it; again if a
    // request is still out (it may have been lost in an empty relay room).
    void askForMissed(const Peer& peer);
    // A device's request: it gets our copies since then.
    void answer(const Peer& peer, const SyncCatchUp& request);
    // One part of a device's answer to our request.
    void receiveMissed(const Peer& peer, const SyncClipBatch& part);
    // Sync stopped: requests still out are given up.
    void stop();
    // The user turned syncing back on, with one device or (none) with all:
    // what was copied on either side while it was off stays there.
    void resume(const std::optional<QString>& peerId);

    // Hashes of clips sent or received lately, oldest first.
    const QList<QString>& recentHashes() const { return m_recentHashes; }

Q_SIGNALS:
    // A clip from another device, to become the clipboard's content.
    void remoteClipReceived(const QString& text, const QString& senderName);
    // A clip another device copied while we could not be reached: for the
    // history only, unless the history holds that text already.
    void remoteClipRecorded(const QString& text, const QString& senderName);

private:
    struct Request {
        std::optional<double> since;
        quint64 ticket = 0;
        qsizetype taken = 0;
        // The newest clip of the answer so far, handed over last.
        std::optional<SyncClipPayload> newest;
        struct Held {
            QPointer<PeerLink> link;
            SyncClip clip;
        };
        QList<Held> heldBack;
    };

    bool admit(const SyncClip& clip, const QString& peerId, const QString& peerName);
    void hand(const Peer& peer, PeerLink& link, const SyncClip& clip);
    void finish(const QString& peerId);
    void sendRequest(const Peer& peer, const Request& request);
    void giveUpLater(const QString& peerId);
    QString nameOf(const QString& peerId) const;
    std::optional<double> resumedAt(const QString& peerId) const;
    static std::optional<double> later(std::optional<double> a, std::optional<double> b);
    void remember(const QString& hash);

    SyncContext& m_context;
    const Peers& m_peers;
    PeerClockGuard& m_peerClock;
    ReplayGuard& m_replayGuard;
    ClipOutbox m_outbox;
    QList<QString> m_recentHashes;
    QHash<QString, Request> m_requests;
    QHash<QString, double> m_resumedAt;
    std::optional<double> m_resumedAll;
    quint64 m_nextTicket = 0;
    // When the last copy was made here (seconds since 1970).
    double m_lastLocalCopy = 0.0;
};
