#include "core/sync/ClipSync.h"

#include "core/prefs/Preferences.h"
#include "core/store/Clip.h"
#include "core/sync/SyncCrypto.h"
#include "core/sync/SyncIdentity.h"
#include "core/sync/SyncLog.h"
#include "core/sync/SyncPayload.h"
#include "core/sync/SyncPeerStore.h"
#include "core/sync/SyncProtocol.h"
#include "platform/Clock.h"

#include <QTimer>
#include <QUuid>

using namespace Qt::StringLiterals;

namespace {
const QString catchUpName = QString::fromLatin1(SyncProtocol::catchUp);
}

ClipSync::ClipSync(SyncContext& context, const Peers& peers, PeerClockGuard& peerClock,
                   ReplayGuard& replayGuard, const QString& outboxPath, QObject* parent)
    : QObject(parent), m_context(context), m_peers(peers), m_peerClock(peerClock),
      m_replayGuard(replayGuard), m_outbox(outboxPath) {}

void ClipSync::broadcast(const Clip& clip) {
    m_lastLocalCopy = m_context.clock.now().unix();
    if (!m_context.running || !m_context.prefs.syncSend() || clip.text().isEmpty())
        return;
    const QString hash = SyncCrypto::hash(clip.text());
    // Sent or received lately: a received clip reported back as a local copy
    // must not travel back.
    if (m_recentHashes.contains(hash))
        return;
    remember(hash);
    const SyncClip sent{clip.text(),
                        clip.id().toString(QUuid::WithoutBraces).toUpper(),
                        m_context.identity.deviceId(),
                        m_context.identity.deviceName(),
                        clip.createdAt().unix(),
                        hash};
    const SyncMessage message = syncMessageOf(sent);
    for (const std::shared_ptr<Peer>& peer : m_peers)
        peer->send(message);
    // Kept whether or not anyone got it: a device away now asks for it later.
    m_outbox.append({*sent.id, sent.text, *sent.createdAt}, m_context.prefs.historyLimit());
}

void ClipSync::receive(const Peer& peer, PeerLink& link, const SyncClip& clip) {
    if (!m_context.prefs.syncReceive())
        return;
    // What that device copied before it must come first.
    if (const auto request = m_requests.find(peer.id()); request != m_requests.end()) {
        if (request->heldBack.size() < maxHeldBack)
            request->heldBack.append({&link, clip});
        return;
    }
    hand(peer, link, clip);
}

void ClipSync::hand(const Peer& peer, PeerLink& link, const SyncClip& clip) {
    const bool direct = link.kind() == PeerLink::Kind::direct;
    // Acknowledged whatever comes of it, as a copy seen before always was;
    // only a direct connection has ever carried acks.
    if (direct && clip.id)
        link.send(syncMessageOf(SyncAck{clip.id}));
    const std::optional<SyncDevice> device = m_context.peerStore.peer(peer.id());
    const QString peerName = device ? device->name : QString();
    if (!admit(clip, peer.id(), peerName))
        return;
    const QString origin = clip.originName ? SyncDevice::cleanName(*clip.originName) : QString();
    const QString sender = clip.originName      ? origin
                           : peerName.isEmpty() ? u"another device"_s
                                                : peerName;
    Q_EMIT remoteClipReceived(clip.text, sender);
    if (direct)
        m_context.say(u"Received a clip from "_s + (clip.originName ? origin : u"a device"_s));
    else
        m_context.say(u"Received a clip via relay from "_s + sender);
}

// Whether a clip that came from `peerId` is to be handed over: it is no
// frame played back again, and its text was not sent or received lately.
bool ClipSync::admit(const SyncClip& clip, const QString& peerId, const QString& peerName) {
    const double now = m_context.clock.now().unix();
    const QString who = peerName.isEmpty() ? u"a device"_s : peerName;
    if (clip.createdAt)
        m_peerClock.isAhead(peerId, peerName, *clip.createdAt, now);
    // The hash of the text itself: one the sender got wrong would leave the
    // text out of the memory and let it come round again.
    const QString hash = SyncCrypto::hash(clip.text);
    switch (m_replayGuard.admit(peerId, syncMessageOf(clip), now)) {
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

// --- catching up ---

void ClipSync::askForMissed(const Peer& peer) {
    if (!m_context.running || !peer.can(catchUpName) || !m_context.prefs.syncReceive())
        return;
    auto request = m_requests.find(peer.id());
    if (request == m_requests.end()) {
        Request fresh;
        if (const std::optional<double> newest = m_replayGuard.newest(peer.id()))
            fresh.since = std::max(0.0, *newest - catchUpOverlap);
        fresh.since = later(fresh.since, resumedAt(peer.id()));
        request = m_requests.insert(peer.id(), fresh);
    }
    sendRequest(peer, *request);
    giveUpLater(peer.id());
}

// Without (more of) an answer in time, the request is given up and the live
// clips held back go on.
void ClipSync::giveUpLater(const QString& peerId) {
    const quint64 ticket = m_requests[peerId].ticket = ++m_nextTicket;
    QTimer::singleShot(catchUpWait, this, [this, peerId, ticket] {
        if (m_requests.value(peerId).ticket != ticket)
            return;
        SyncLog::write(u"no answer from "_s + nameOf(peerId) + u" about the copies we missed"_s);
        finish(peerId);
    });
}

void ClipSync::sendRequest(const Peer& peer, const Request& request) {
    peer.send(syncMessageOf(SyncCatchUp{request.since}));
}

void ClipSync::answer(const Peer& peer, const SyncCatchUp& request) {
    if (!m_context.running || !peer.can(catchUpName))
        return;
    std::optional<double> since = request.since;
    // A device that never took a clip from us missed what came after we
    // last saw it; one we never saw before this run missed nothing.
    if (!since && peer.lastSeenBefore())
        since = peer.lastSeenBefore()->unix();
    since = later(since, resumedAt(peer.id()));
    QList<SyncClipPayload> clips;
    if (since && m_context.prefs.syncSend())
        clips = m_outbox.after(*since, m_context.prefs.historyLimit());
    // In parts that each fit a sealed message, oldest first.
    constexpr qsizetype limit =
        SyncCrypto::maxSealedSize - SyncCrypto::sealOverhead - SyncMessage::stampRoom;
    SyncClipBatch part{{}, true};
    const qsizetype envelope = syncMessageOf(part).encode().size();
    qsizetype size = envelope;
    qsizetype sent = 0;
    for (const SyncClipPayload& clip : std::as_const(clips)) {
        // The entry and the comma before it.
        const qsizetype entry =
            syncMessageOf(SyncClipBatch{{clip}, true}).encode().size() - envelope + 1;
        if (envelope + entry > limit)
            continue; // could never be sealed; it did not go out live either
        if (size + entry > limit) {
            peer.send(syncMessageOf(part));
            part.clips.clear();
            size = envelope;
        }
        part.clips.append(clip);
        size += entry;
        ++sent;
    }
    part.more = false;
    peer.send(syncMessageOf(part));
    if (sent > 0)
        SyncLog::write(u"sent "_s + nameOf(peer.id()) + u" "_s + QString::number(sent) +
                       u" copies it missed"_s);
}

void ClipSync::receiveMissed(const Peer& peer, const SyncClipBatch& part) {
    const auto request = m_requests.find(peer.id());
    if (request == m_requests.end())
        return; // not asked for: a frame played back, or an answer we gave up on
    const QString name = nameOf(peer.id());
    const QString sender = name.isEmpty() ? u"another device"_s : name;
    const double now = m_context.clock.now().unix();
    for (const SyncClipPayload& clip : part.clips) {
        if (clip.text.isEmpty() || (request->since && clip.createdAt <= *request->since))
            continue;
        const QString hash = SyncCrypto::hash(clip.text);
        if (m_recentHashes.contains(hash))
            continue;
        remember(hash);
        m_replayGuard.noteTaken(peer.id(), clip.createdAt, now);
        ++request->taken;
        if (request->newest)
            Q_EMIT remoteClipRecorded(request->newest->text, sender);
        request->newest = clip;
    }
    if (part.more) {
        giveUpLater(peer.id());
        return;
    }
    if (const std::optional<SyncClipPayload> newest = request->newest) {
        // A copy made here since is what the user expects to paste.
        if (newest->createdAt > m_lastLocalCopy)
            Q_EMIT remoteClipReceived(newest->text, sender);
        else
            Q_EMIT remoteClipRecorded(newest->text, sender);
        m_context.say(u"Received "_s + QString::number(request->taken) + u" clip(s) copied on "_s +
                      sender + u" while it could not be reached"_s);
    }
    finish(peer.id());
}

void ClipSync::finish(const QString& peerId) {
    const Request request = m_requests.take(peerId);
    const std::shared_ptr<Peer> peer = m_peers.value(peerId);
    if (!peer)
        return;
    for (const Request::Held& held : request.heldBack)
        if (held.link)
            hand(*peer, *held.link, held.clip);
}

void ClipSync::stop() {
    m_requests.clear();
}

void ClipSync::resume(const std::optional<QString>& peerId) {
    const double now = m_context.clock.now().unix();
    if (peerId)
        m_resumedAt.insert(*peerId, now);
    else
        m_resumedAll = now;
}

std::optional<double> ClipSync::resumedAt(const QString& peerId) const {
    const auto it = m_resumedAt.constFind(peerId);
    return later(m_resumedAll, it == m_resumedAt.cend() ? std::nullopt : std::optional(*it));
}

std::optional<double> ClipSync::later(std::optional<double> a, std::optional<double> b) {
    if (!a || !b)
        return a ? a : b;
    return std::max(*a, *b);
}

QString ClipSync::nameOf(const QString& peerId) const {
    const std::optional<SyncDevice> device = m_context.peerStore.peer(peerId);
    return device ? device->name : QString();
}

void ClipSync::remember(const QString& hash) {
    m_recentHashes.append(hash);
    while (m_recentHashes.size() > recentHashLimit)
        m_recentHashes.removeFirst();
}
