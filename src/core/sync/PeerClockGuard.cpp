#include "core/sync/PeerClockGuard.h"

#include "core/sync/SyncLog.h"

#include <cmath>

using namespace Qt::StringLiterals;

double PeerClockGuard::admit(const QString& peerId, const QString& peerName, double sent,
                             double now) {
    if (!isAhead(peerId, peerName, sent, now))
        return sent;
    if (!m_peers.contains(peerId) && m_peers.size() >= maxPeers)
        m_peers.clear();
    Peer& peer = m_peers[peerId];
    if (const auto it = peer.taken.constFind(sent); it != peer.taken.cend())
        return *it;
    peer.taken.insert(sent, now);
    peer.order.append(sent);
    while (peer.order.size() > maxStampsPerPeer)
        peer.taken.remove(peer.order.takeFirst());
    return now;
}

bool PeerClockGuard::isAhead(const QString& peerId, const QString& peerName, double sent,
                             double now) {
    if (!(sent > now + allowance))
        return false;
    if (!m_logged.contains(peerId) && m_logged.size() < maxPeers) {
        m_logged.insert(peerId);
        const qint64 days = qint64(std::floor((sent - now) / 86400.0));
        SyncLog::write(u"the clock of "_s + (peerName.isEmpty() ? peerId : peerName) + u" runs "_s +
                       QString::number(days) +
                       u" day(s) ahead — its times count as the time they arrive"_s);
    }
    return true;
}

void PeerClockGuard::admit(const QString& peerId, const QString& peerName,
                           QList<SyncPinPayload>& pins, QList<SyncUnpinPayload>& unpinned,
                           double now) {
    for (SyncPinPayload& pin : pins)
        pin.pinnedAt = admit(peerId, peerName, pin.pinnedAt, now);
    for (SyncUnpinPayload& unpin : unpinned)
        unpin.at = admit(peerId, peerName, unpin.at, now);
}
