#include "core/sync/PinSync.h"

#include "core/prefs/Preferences.h"
#include "core/sync/SyncCrypto.h"
#include "core/sync/SyncLog.h"
#include "core/sync/SyncPeerStore.h"
#include "platform/Clock.h"

#include <algorithm>
#include <numeric>

using namespace Qt::StringLiterals;

PinSync::PinSync(SyncContext& context, const Peers& peers, PeerClockGuard& peerClock,
                 QObject* parent)
    : QObject(parent), m_context(context), m_peers(peers), m_peerClock(peerClock) {}

std::optional<SyncMessage> PinSync::message() const {
    const std::optional<SyncPinSnapshot> pins = payload();
    if (!pins)
        return std::nullopt;
    return syncMessageOf(*pins);
}

std::optional<SyncPinSnapshot> PinSync::payload() const {
    if (!m_context.running || !m_context.prefs.syncSend() || !snapshot)
        return std::nullopt;
    auto [pins, unpinned] = snapshot();
    if (pins.isEmpty() && unpinned.isEmpty())
        return std::nullopt;
    SyncPinSnapshot message{std::move(pins), std::move(unpinned)};

    // A snapshot that cannot be sealed would never arrive: the longest pins
    // stay home instead. A receiver never takes a missing pin for an unpin.
    constexpr qsizetype limit =
        SyncCrypto::maxSealedSize - SyncCrypto::sealOverhead - SyncMessage::stampRoom;
    qsizetype size = syncMessageOf(message).encode().size();
    if (size <= limit)
        return message;
    QList<SyncPinPayload>& list = message.pins;
    QList<qsizetype> order(list.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](qsizetype a, qsizetype b) {
        return list.at(a).text.size() > list.at(b).text.size();
    });
    QList<bool> dropped(list.size(), false);
    qsizetype left = 0;
    for (qsizetype index : order) {
        if (size <= limit)
            break;
        SyncMessage one;
        one.type = SyncMessageType::pins;
        one.pins = QList<SyncPinPayload>{list.at(index)};
        // The entry, its braces and a separating comma.
        size -= one.encode().size() - QByteArrayView(R"({"type":"pins","pins":[]})").size() + 1;
        dropped[index] = true;
        ++left;
    }
    QList<SyncPinPayload> kept;
    for (qsizetype i = 0; i < list.size(); ++i)
        if (!dropped.at(i))
            kept.append(list.at(i));
    list = std::move(kept);
    SyncLog::write(u"pin snapshot too large for one message — left out the "_s +
                   QString::number(left) + u" longest pin(s)"_s);
    if (syncMessageOf(message).encode().size() > limit)
        return std::nullopt;
    return message;
}

void PinSync::broadcast(const std::optional<QString>& excluding) {
    const std::optional<SyncMessage> pins = message();
    if (!pins)
        return;
    for (const std::shared_ptr<Peer>& peer : m_peers)
        if (peer->id() != excluding && peer->speaks(3))
            peer->send(*pins);
}

void PinSync::receive(const Peer& peer, SyncPinSnapshot received) {
    if (!m_context.prefs.syncReceive())
        return;
    if (received.pins.isEmpty() && received.unpinned.isEmpty())
        return;
    const std::optional<SyncDevice> device = m_context.peerStore.peer(peer.id());
    m_peerClock.admit(peer.id(), device ? device->name : QString(), received.pins,
                      received.unpinned, m_context.clock.now().unix());
    Q_EMIT remotePinsReceived(received.pins, received.unpinned, peer.id());
}
