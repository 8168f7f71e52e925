#include "core/sync/ClipSync.h"

#include "core/prefs/Preferences.h"
#include "core/store/Clip.h"
#include "core/sync/SyncCrypto.h"
#include "core/sync/SyncIdentity.h"
#include "core/sync/SyncLog.h"
#include "core/sync/SyncPeerStore.h"
#include "platform/Clock.h"

#include <QUuid>

using namespace Qt::StringLiterals;

ClipSync::ClipSync(SyncContext& context, const Peers& peers, PeerClockGuard& peerClock,
                   const QString& receivedClipsPath, QObject* parent)
    : QObject(parent), m_context(context), m_peers(peers), m_peerClock(peerClock),
      m_replayGuard(std::make_unique<ReplayGuard>(receivedClipsPath)) {}

void ClipSync::broadcast(const Clip& clip) {
    if (!m_context.running || !m_context.prefs.syncSend() || clip.text().isEmpty())
        return;
    const QString hash = SyncCrypto::hash(clip.text());
    // Sent or received lately: a received clip reported back as a local copy
    // must not travel back.
    if (m_recentHashes.contains(hash))
        return;
    remember(hash);
    SyncMessage message;
    message.type = SyncMessageType::clip;
    message.id = clip.id().toString(QUuid::WithoutBraces).toUpper();
    message.text = clip.text();
    message.originId = m_context.identity.deviceId();
    message.originName = m_context.identity.deviceName();
    message.createdAt = clip.createdAt().unix();
    message.hash = hash;
    for (const std::shared_ptr<Peer>& peer : m_peers)
        peer->send(message);
}

void ClipSync::receive(const Peer& peer, PeerLink& link, const SyncMessage& message) {
    if (message.type != SyncMessageType::clip)
        return; // an ack asks nothing of us
    if (!m_context.prefs.syncReceive() || !message.text || message.text->isEmpty())
        return;
    const bool direct = link.kind() == PeerLink::Kind::direct;
    // Acknowledged whatever comes of it, as a copy seen before always was;
    // only a direct connection has ever carried acks.
    if (direct && message.id)
        link.send(SyncMessage::ack(*message.id));
    const std::optional<SyncDevice> device = m_context.peerStore.peer(peer.id());
    const QString peerName = device ? device->name : QString();
    if (!admit(message, peer.id(), peerName))
        return;
    const QString origin =
        message.originName ? SyncDevice::cleanName(*message.originName) : QString();
    const QString sender = message.originName   ? origin
                           : peerName.isEmpty() ? u"another device"_s
                                                : peerName;
    Q_EMIT remoteClipReceived(*message.text, sender);
    if (direct)
        m_context.say(u"Received a clip from "_s + (message.originName ? origin : u"a device"_s));
    else
        m_context.say(u"Received a clip via relay from "_s + sender);
}

// Whether a clip that came from `peerId` is to be handed over: it is no
// frame played back again, and its text was not sent or received lately.
bool ClipSync::admit(const SyncMessage& message, const QString& peerId, const QString& peerName) {
    const double now = m_context.clock.now().unix();
    const QString who = peerName.isEmpty() ? u"a device"_s : peerName;
    if (message.createdAt)
        m_peerClock.isAhead(peerId, peerName, *message.createdAt, now);
    // The hash of the text itself: one the sender got wrong would leave the
    // text out of the memory and let it come round again.
    const QString hash = SyncCrypto::hash(*message.text);
    switch (m_replayGuard->admit(peerId, message, now)) {
    case ReplayGuard::Verdict::fresh:
        break;
    case ReplayGuard::Verdict::repeated:
        // The same frame by the other path (direct and relay) is no news.
        if (!m_recentHashes.contains(hash))
            SyncLog::write(u"a clip from "_s + who +
                           u" came a second time — refused as played back"_s);
        return false;
    case ReplayGuard::Verdict::stale:
        SyncLog::write(u"a clip from "_s + who + u" was made more than "_s +
                       QString::number(qint64(ReplayGuard::maxAge / 60)) +
                       u" minutes ago — refused as played back (or that device's clock is "
                       "behind)"_s);
        return false;
    }
    if (m_recentHashes.contains(hash))
        return false;
    remember(hash);
    return true;
}

void ClipSync::remember(const QString& hash) {
    m_recentHashes.append(hash);
    while (m_recentHashes.size() > recentHashLimit)
        m_recentHashes.removeFirst();
}
