#include "core/sync/Peer.h"

#include <algorithm>

void Peer::attach(PeerLink* link) {
    m_links.removeAll(nullptr);
    if (!m_links.contains(link))
        m_links.append(link);
}

void Peer::detach(PeerLink* link) {
    m_links.removeAll(link);
    m_links.removeAll(nullptr);
}

PeerLink* Peer::bestLink() const {
    PeerLink* best = nullptr;
    for (const QPointer<PeerLink>& link : m_links) {
        if (!link || !link->isUsable())
            continue;
        // Of two alike (crossed dials), the first one stays in use.
        if (!best || link->kind() < best->kind())
            best = link.data();
    }
    return best;
}

bool Peer::isReachableWithout(const PeerLink* link) const {
    return std::any_of(m_links.cbegin(), m_links.cend(), [&](const QPointer<PeerLink>& other) {
        return other && other != link && other->isUsable();
    });
}

bool Peer::send(const SyncMessage& message) const {
    PeerLink* link = bestLink();
    if (!link)
        return false;
    link->send(message);
    return true;
}
