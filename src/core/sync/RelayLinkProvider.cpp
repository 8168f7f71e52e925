#include "core/sync/RelayLinkProvider.h"

#include "core/prefs/Preferences.h"
#include "core/sync/SyncCrypto.h"
#include "core/sync/SyncIdentity.h"
#include "core/sync/SyncLog.h"
#include "core/sync/SyncPeerStore.h"
#include "platform/Clock.h"

#include <QCryptographicHash>
#include <QTimer>

using namespace Qt::StringLiterals;

RelayLinkProvider::RelayLinkProvider(SyncContext& context, const SyncOptions& options,
                                     QObject* parent)
    : QObject(parent), m_context(context), m_options(options) {}

RelayLinkProvider::~RelayLinkProvider() {
    for (RelayLink* link : std::as_const(m_links))
        link->disconnect(this);
}

QStringList RelayLinkProvider::connectedPeerIds() const {
    QStringList ids(m_connectedPeerIds.begin(), m_connectedPeerIds.end());
    ids.sort();
    return ids;
}

void RelayLinkProvider::restart() {
    stop();
    update();
}

void RelayLinkProvider::update() {
    const Preferences& prefs = m_context.prefs;
    if (!m_context.running || !prefs.relayEnabled() || prefs.relayURL().isEmpty()) {
        stop();
        return;
    }
    // A link that would only be opened again stays: a replacement would drop
    // what is on its way over the old one, and a peer answers a repeated
    // ping only once something changed.
    QHash<QString, RelayLink*> previous = std::exchange(m_links, {});
    const QString ownId = m_context.identity.deviceId();
    qsizetype skipped = 0;
    for (const SyncDevice& device : m_context.peerStore.peers()) {
        if (!device.isEnabled())
            continue;
        const std::optional<QByteArray> key = m_context.sessionKey(device);
        if (!key)
            continue;
        if (m_links.size() >= maxRelayLinks) {
            ++skipped;
            continue;
        }
        const std::optional<QUrl> url =
            RelayLink::linkUrl(prefs.relayURL(), SyncCrypto::roomId(*key), ownId);
        if (!url) {
            for (RelayLink* link : std::as_const(previous))
                retire(link);
            stop();
            m_context.say(u"Relay URL is not valid"_s);
            return;
        }
        if (RelayLink* old = previous.take(device.id)) {
            if (old->url() == *url) {
                m_links.insert(device.id, old);
                continue;
            }
            retire(old);
        }
        auto* link = new RelayLink(*url, device.id, device.name, *key, ownId, this);
        link->setTiming(m_options.relayTiming);
        connect(link, &RelayLink::messageReceived, this,
                [this, link](const SyncMessage& message) { handle(message, link); });
        connect(link, &RelayLink::connectedChanged, this,
                [this, link](bool connected) { connectedChanged(link, connected); });
        connect(link, &RelayLink::unreachable, this, [this, link](const QString& reason) {
            // Every link to one relay fails alike; one line says it.
            const QString event = u"Cannot reach the relay: "_s + reason;
            if (m_links.value(link->peerId()) != link)
                return;
            if (event != m_context.lastEvent)
                m_context.say(event);
            watchForReturn();
        });
        m_links.insert(device.id, link);
        link->start();
    }
    for (RelayLink* link : std::as_const(previous))
        retire(link);
    // Every link goes to the same relay; one probe watches it.
    if (!m_links.isEmpty()) {
        const QUrl url = m_links.cbegin().value()->url();
        const QUrl origin = url.adjusted(QUrl::RemovePath | QUrl::RemoveQuery);
        if (!m_probe || origin != m_probeOrigin) {
            delete m_probe;
            m_probeOrigin = origin;
            m_probe = new RelayProbe(url, this);
            m_probe->setTiming(m_options.relayProbeTiming);
            connect(m_probe, &RelayProbe::reachable, this, &RelayLinkProvider::relayIsBack);
        }
    }
    QSet<QString> connected;
    for (auto it = m_links.cbegin(); it != m_links.cend(); ++it)
        if (m_connectedPeerIds.contains(it.key()) && it.value()->isConnected())
            connected.insert(it.key());
    if (connected != m_connectedPeerIds)
        setConnected(std::move(connected));
    if (skipped > 0)
        SyncLog::write(u"no relay link for "_s + QString::number(skipped) +
                       u" device(s): the relay lets one address hold only "_s +
                       QString::number(maxRelayLinks) + u" links besides pairing"_s);
    if (!m_links.isEmpty())
        m_context.say(u"Relay enabled for "_s + QString::number(m_links.size()) + u" device(s)"_s);
}

void RelayLinkProvider::stop() {
    for (RelayLink* link : std::as_const(m_links))
        RelayLink::discard(link, this);
    m_links.clear();
    m_stateGate.clear();
    delete std::exchange(m_probe, nullptr);
    setConnected({});
}

void RelayLinkProvider::resetBackoff(const QString& deviceId) {
    if (RelayLink* waiting = m_links.value(deviceId))
        waiting->resetBackoff();
}

void RelayLinkProvider::watchForReturn() {
    if (m_probe)
        m_probe->start();
}

void RelayLinkProvider::relayIsBack() {
    SyncLog::write(u"the relay answers again"_s);
    for (RelayLink* waiting : std::as_const(m_links))
        waiting->retryNow();
}

void RelayLinkProvider::retire(RelayLink* link) {
    m_stateGate.forget(link->peerId());
    RelayLink::discard(link, this);
}

void RelayLinkProvider::closePeer(const QString& id) {
    m_stateGate.forget(id);
    if (RelayLink* link = m_links.take(id))
        RelayLink::discard(link, this);
    if (m_connectedPeerIds.contains(id)) {
        QSet<QString> ids = m_connectedPeerIds;
        ids.remove(id);
        setConnected(std::move(ids));
    }
}

void RelayLinkProvider::connectedChanged(RelayLink* link, bool connected) {
    if (m_links.value(link->peerId()) != link)
        return;
    QSet<QString> ids = m_connectedPeerIds;
    if (connected)
        ids.insert(link->peerId());
    else
        ids.remove(link->peerId());
    setConnected(std::move(ids));
    if (!connected) {
        watchForReturn();
        Q_EMIT linkDown(link);
        return;
    }
    // The relay keeps nothing for a member that joins later, so what goes
    // out now is lost when the peer is not in the room yet. The ping tells
    // a peer that is there to send its side again; one that is not will send
    // its own when it comes.
    link->send(SyncMessage::ping());
    // Told first, so that our state goes out by what the device speaks.
    Q_EMIT linkUp(link);
    sendState(link);
}

void RelayLinkProvider::sendState(RelayLink* link) {
    if (!stateFor)
        return;
    for (const SyncMessage& message : stateFor(link->peerId()))
        link->send(message);
}

void RelayLinkProvider::answerPing(RelayLink* link) {
    const QList<SyncMessage> state = stateFor ? stateFor(link->peerId()) : QList<SyncMessage>{};
    if (state.isEmpty())
        return;
    QByteArray encoded;
    for (const SyncMessage& message : state)
        encoded += message.encode() + '\n';
    const QByteArray fingerprint = QCryptographicHash::hash(encoded, QCryptographicHash::Sha256);
    const RelayStateGate::Decision decision =
        m_stateGate.decide(link->peerId(), fingerprint, m_context.clock.now());
    if (decision.answer) {
        for (const SyncMessage& message : state)
            link->send(message);
        return;
    }
    // Something changed but the last answer was recent: one answer later,
    // however many pings come meanwhile.
    if (decision.retryAfter && m_stateGate.defer(link->peerId())) {
        const auto delay = std::chrono::milliseconds(qint64(*decision.retryAfter * 1000.0) + 1);
        QTimer::singleShot(delay, link, [this, link] {
            m_stateGate.undefer(link->peerId());
            if (m_links.value(link->peerId()) == link)
                answerPing(link);
        });
    }
}

void RelayLinkProvider::handle(const SyncMessage& message, RelayLink* link) {
    if (m_links.value(link->peerId()) != link)
        return;
    if (m_context.isOwnOrigin(message)) {
        SyncLog::write(u"dropped a message that claims to come from this device"_s);
        return;
    }
    switch (message.type) {
    case SyncMessageType::ping:
        // The peer has just joined the room and missed what we sent.
        answerPing(link);
        Q_EMIT pinged(link);
        break;
    case SyncMessageType::pair: // only in a pairing room
        break;
    default:
        Q_EMIT received(link, message);
        break;
    }
}

void RelayLinkProvider::setConnected(QSet<QString> ids) {
    m_connectedPeerIds = std::move(ids);
    Q_EMIT connectedPeerIdsChanged();
}
