#include "core/sync/Pairing.h"

#include "core/prefs/Preferences.h"
#include "core/sync/PairingCode.h"
#include "core/sync/SyncCrypto.h"
#include "core/sync/SyncIdentity.h"
#include "core/sync/SyncLog.h"
#include "core/sync/SyncPeerStore.h"
#include "core/sync/SyncProtocol.h"
#include "platform/Clock.h"

#include <QtConcurrent/QtConcurrentRun>

using namespace Qt::StringLiterals;

namespace {
// How long a join's relay room is waited on while the relay cannot be
// reached.
constexpr std::chrono::minutes joinRelayWait{3};
// The host is in its room before its code is shown and answers at once; a
// request that has reached the room gets no answer after this.
constexpr std::chrono::seconds joinRelayAnswerWait{5};
const QString nobodyWaiting = u"No device is waiting to pair on this network"_s;
} // namespace

Pairing::Pairing(SyncContext& context, LanLinkProvider& lan, const SyncOptions& options,
                 QObject* parent)
    : QObject(parent), m_context(context), m_lan(lan), m_options(options) {
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &Pairing::end);
}

Pairing::~Pairing() {
    for (RelayLink* link : {m_relayLink, m_joinRelayLink})
        if (link)
            link->disconnect(this);
}

SyncMessage Pairing::request() const {
    const SyncIdentity& identity = m_context.identity;
    // What we speak goes along, so that the relay room, which carries no
    // hello, knows from the start; a protocol-3 device ignores both.
    return syncMessageOf(SyncPair{identity.deviceId(), identity.deviceName(),
                                  identity.deviceKeyBase64(), std::nullopt, SyncProtocol::version,
                                  SyncProtocol::capabilities()});
}

void Pairing::take(const SyncMessage& message,
                   const std::function<void(const SyncMessage&)>& reply) {
    const std::optional<SyncPayload> payload = syncPayloadOf(message);
    if (payload && std::holds_alternative<SyncPair>(*payload))
        accept(std::get<SyncPair>(*payload), reply);
}

// --- hosting a window ---

void Pairing::start(std::chrono::seconds duration) {
    const quint64 attempt = ++m_attempt;
    const std::optional<QString> code = PairingCode::generate();
    if (!code) {
        setPreparing(false);
        m_context.say(u"Could not open pairing: no secure random numbers"_s);
        return;
    }
    setPreparing(true);
    // 200,000 HMAC rounds would hold the event loop for a noticeable moment.
    QtConcurrent::run([code = *code] {
        return SyncCrypto::pairingKey(code);
    }).then(this, [this, attempt, code = *code, duration](const std::optional<QByteArray>& key) {
        if (attempt != m_attempt)
            return; // cancelled or replaced while the key was derived
        setPreparing(false);
        if (!key) {
            m_context.say(u"Could not open pairing: the pairing key could not be derived"_s);
            return;
        }
        open(code, *key, duration);
    });
}

void Pairing::open(const QString& code, const QByteArray& key, std::chrono::seconds duration) {
    m_code = code;
    m_key = key;
    m_expiry = QDateTime::currentDateTimeUtc().addSecs(duration.count());
    Q_EMIT codeChanged();
    Q_EMIT expiryChanged();
    startRelay();
    m_timer.start(duration);
    m_context.say(
        u"Pairing open for "_s +
        QString::number(std::chrono::duration_cast<std::chrono::minutes>(duration).count()) +
        u" minutes"_s);
}

void Pairing::setPreparing(bool preparing) {
    if (preparing == m_preparing)
        return;
    m_preparing = preparing;
    Q_EMIT isPreparingChanged();
}

void Pairing::startRelay() {
    if (RelayLink* link = std::exchange(m_relayLink, nullptr))
        RelayLink::discard(link, this);
    const Preferences& prefs = m_context.prefs;
    if (!prefs.relayEnabled() || prefs.relayURL().isEmpty())
        return;
    const QString ownId = m_context.identity.deviceId();
    const std::optional<QUrl> url =
        RelayLink::linkUrl(prefs.relayURL(), SyncCrypto::pairingRoomId(m_key), ownId);
    if (!url)
        return;
    auto* link = new RelayLink(*url, u"pairing"_s, u"pairing"_s, m_key, ownId, this);
    link->setTiming(m_options.relayTiming);
    connect(link, &RelayLink::messageReceived, this, [this, link](const SyncMessage& message) {
        if (link == m_relayLink)
            take(message, [link](const SyncMessage& reply) { link->send(reply); });
    });
    m_relayLink = link;
    link->start();
    m_context.say(u"Pairing is also open over the relay"_s);
}

void Pairing::end() {
    ++m_attempt;
    setPreparing(false);
    m_timer.stop();
    if (RelayLink* link = std::exchange(m_relayLink, nullptr)) {
        link->disconnect(this);
        // The answer to the device that just paired may still be on its way.
        link->closeAfterSending();
        QTimer::singleShot(std::chrono::seconds(3), link, &QObject::deleteLater);
    }
    // Callers that opened with this window's key before it closed do not
    // get to pair after it.
    m_lan.closePairing(SyncConnection::Role::inbound);
    m_key.clear();
    if (!m_code.isEmpty()) {
        m_code.clear();
        m_expiry = QDateTime();
        Q_EMIT codeChanged();
        Q_EMIT expiryChanged();
    }
}

void Pairing::stop() {
    ++m_generation;
    end();
    dropJoinRelay(false);
    m_join = {};
}

std::optional<QString> Pairing::url() const {
    if (m_code.isEmpty() || m_lan.listenerPort() <= 0)
        return std::nullopt;
    return PairingLink::make(m_code, static_cast<quint16>(m_lan.listenerPort()),
                             m_lan.listenAddresses(), m_context.prefs.relayEnabled(),
                             m_context.prefs.relayURL());
}

// --- joining ---

void Pairing::join(const QString& codeOrLink) {
    const bool isLink = codeOrLink.contains(u"://"_s);
    std::optional<PairingLink::Target> target;
    if (isLink) {
        target = PairingLink::parse(codeOrLink);
        if (!target) {
            finishJoin(u"This pairing link is not valid — copy the whole link again"_s, false);
            return;
        }
    }
    const QString code = PairingCode::normalize(target ? target->code : codeOrLink);
    if (code.isEmpty()) {
        finishJoin(nobodyWaiting, false);
        return;
    }
    const quint64 generation = m_generation;
    QtConcurrent::run([code] {
        return SyncCrypto::pairingKey(code);
    }).then(this, [this, generation, target](const std::optional<QByteArray>& key) {
        // Stopped meanwhile: the user no longer expects anything to go out.
        if (generation != m_generation)
            return;
        if (!key) {
            finishJoin(nobodyWaiting, false);
            return;
        }
        sendRequests(*key, target);
    });
}

void Pairing::sendRequests(const QByteArray& key,
                           const std::optional<PairingLink::Target>& target) {
    m_join = {};
    int dialled = 0;
    QString relayURL;
    if (target) {
        // The link says where the host is: no discovery needed.
        for (const QHostAddress& host : std::as_const(target->hosts)) {
            dial({host, target->port}, std::nullopt, key);
            ++dialled;
        }
        relayURL = target->relay;
    } else {
        m_join.codeKey = key;
        dialled = dialUnpaired(key);
        // The host offers its window on the relay too, and may be reachable
        // only there.
        if (m_context.prefs.relayEnabled())
            relayURL = m_context.prefs.relayURL();
    }
    if (relayURL.trimmed().isEmpty())
        dropJoinRelay(false);
    else
        joinOverRelay(relayURL, key);
    m_join.triedNetwork = dialled > 0;
    m_join.triedRelay = m_joinRelayLink != nullptr;
    m_join.active = m_join.triedNetwork || m_join.triedRelay;
    if (!m_join.active)
        m_join = {};
    finishJoin(m_join.active ? u"Pairing request sent"_s : nobodyWaiting, m_join.active);
}

void Pairing::dialNewlyFound() {
    if (m_join.active && !m_join.codeKey.isEmpty() && dialUnpaired(m_join.codeKey) > 0)
        m_join.triedNetwork = true;
}

int Pairing::dialUnpaired(const QByteArray& key) {
    int dialled = 0;
    const QHash<QString, SyncEndpoint>& endpoints = m_lan.endpoints();
    for (auto it = endpoints.cbegin(); it != endpoints.cend(); ++it) {
        if (m_context.peerStore.peer(it.key()) || it.key() == m_context.identity.deviceId() ||
            m_join.dialled.contains(it.key()))
            continue;
        m_join.dialled.insert(it.key());
        dial(it.value(), it.key(), key);
        ++dialled;
    }
    return dialled;
}

void Pairing::dial(const SyncEndpoint& endpoint, const std::optional<QString>& peerId,
                   const QByteArray& key) {
    m_lan.dialPairing(endpoint, peerId, key)->send(request());
}

int Pairing::pendingJoins() const {
    return m_lan.pendingPairingDials() + (m_joinRelayLink ? 1 : 0);
}

void Pairing::finishJoin(const QString& outcome, bool sent) {
    m_context.say(outcome);
    Q_EMIT joinFinished(outcome, sent);
}

void Pairing::joinOverRelay(const QString& relayURL, const QByteArray& key) {
    dropJoinRelay(false);
    const QString ownId = m_context.identity.deviceId();
    const std::optional<QUrl> url =
        RelayLink::linkUrl(relayURL, SyncCrypto::pairingRoomId(key), ownId);
    if (!url) {
        SyncLog::write(u"the relay to pair through is not a ws:// or wss:// URL"_s);
        return;
    }
    auto* link = new RelayLink(*url, u"pairing"_s, u"pairing"_s, key, ownId, this);
    link->setTiming(m_options.relayTiming);
    connect(link, &RelayLink::messageReceived, this, [this, link](const SyncMessage& message) {
        // A success ends the join, this link included.
        if (link == m_joinRelayLink)
            take(message, [link](const SyncMessage& reply) { link->send(reply); });
    });
    auto* answer = new QTimer(link);
    answer->setSingleShot(true);
    connect(link, &RelayLink::connectedChanged, this, [this, link, answer](bool connected) {
        if (link != m_joinRelayLink)
            return;
        if (!connected) {
            answer->stop();
            return;
        }
        m_join.reachedRelay = true;
        // Again on every reconnect: the relay keeps nothing for the host.
        link->send(request());
        answer->start(joinRelayAnswerWait);
    });
    // Nobody answered: the window has closed, the code was wrong, or the
    // host is not on this relay.
    const auto giveUp = [this, link] {
        if (link != m_joinRelayLink)
            return;
        dropJoinRelay(false);
        reportUnansweredJoin();
    };
    connect(answer, &QTimer::timeout, this, giveUp);
    QTimer::singleShot(joinRelayWait, link, giveUp);
    m_joinRelayLink = link;
    link->start();
}

void Pairing::dropJoinRelay(bool afterSending) {
    RelayLink* link = std::exchange(m_joinRelayLink, nullptr);
    if (!link)
        return;
    if (!afterSending) {
        RelayLink::discard(link, this);
        return;
    }
    link->disconnect(this);
    link->closeAfterSending();
    QTimer::singleShot(std::chrono::seconds(3), link, &QObject::deleteLater);
}

void Pairing::endJoin(const SyncDevice& device) {
    if (!m_join.active && !m_joinRelayLink)
        return;
    m_join = {};
    // Our answer to the host may still be on its way.
    dropJoinRelay(true);
    // The host answered on one path; the others must not pair a second time.
    m_lan.closePairing(SyncConnection::Role::outbound);
    Q_EMIT joinEnded(u"Paired with "_s + device.name, true);
}

void Pairing::reportUnansweredJoin() {
    if (!m_join.active || pendingJoins() > 0)
        return;
    const Join join = std::exchange(m_join, {});
    // Over the network alone the host's own log says why; with the relay in
    // it the user must learn where the code was tried.
    if (!join.triedRelay)
        return;
    QString outcome =
        u"No device answered the code "_s +
        (join.triedNetwork ? u"on this network or over the relay"_s : u"over the relay"_s);
    if (!join.reachedRelay)
        outcome += u" — the relay could not be reached"_s;
    m_context.say(outcome);
    Q_EMIT joinEnded(outcome, false);
}

// --- the exchange ---

void Pairing::receive(SyncConnection* connection, const SyncMessage& message) {
    // What we accepted as a host counts only while the window is open; a
    // joiner's own dial is waiting for exactly this answer.
    if (connection->role() == SyncConnection::Role::inbound && m_code.isEmpty())
        return;
    const std::optional<SyncEndpoint> dialled = connection->endpoint();
    const std::optional<SyncPayload> payload = syncPayloadOf(message);
    if (!payload || !std::holds_alternative<SyncPair>(*payload))
        return;
    const std::optional<SyncDevice> device =
        accept(std::get<SyncPair>(*payload),
               [connection](const SyncMessage& reply) { connection->send(reply); });
    if (!device)
        return;
    // Out of the way first, so that the dial below is not mistaken for a
    // duplicate of a connection that is only closing.
    m_lan.release(connection);
    connection->close();
    // A pasted link reached the host without discovery; its address is the
    // one to dial again.
    if (dialled && !m_lan.endpoints().contains(device->id))
        m_lan.rememberEndpoint(device->id, *dialled);
    m_lan.connectIfNeeded(*device);
}

std::optional<SyncDevice> Pairing::accept(const SyncPair& message,
                                          const std::function<void(const SyncMessage&)>& reply) {
    const SyncIdentity& identity = m_context.identity;
    SyncPeerStore& store = m_context.peerStore;
    // The other side's refusal: a pair message with a reason and no key.
    if (!message.deviceKey && message.refusal && !message.refusal->isEmpty()) {
        const QString who = message.deviceName ? SyncDevice::cleanName(*message.deviceName)
                                               : u"The other computer"_s;
        const QString reason = SyncDevice::cleanName(message.refusal->left(maxRefusalLength));
        const QString outcome = who + u" refused to pair: "_s + reason;
        m_context.say(outcome);
        Q_EMIT joinRefused(outcome);
        return std::nullopt;
    }
    if (!message.deviceId || !message.deviceName || !message.deviceKey ||
        !SyncCrypto::decodeKey(*message.deviceKey))
        return std::nullopt;
    if (*message.deviceId == identity.deviceId()) {
        SyncLog::write(u"refused to pair with a device that has our own id"_s);
        return std::nullopt;
    }
    SyncDevice device{*message.deviceId, *message.deviceName, *message.deviceKey, {}, {}, {}};
    device.lastSeen = m_context.clock.now();
    device.platform = u"unknown"_s;
    // A device that names nothing speaks protocol 3 at most.
    device.protocol = std::clamp<qint64>(message.protocol.value_or(SyncProtocol::baseVersion), 1,
                                         SyncProtocol::version);
    device.capabilities =
        message.capabilities.value_or(QStringList{}).mid(0, SyncDevice::maxCapabilities);
    const bool full = !store.peer(device.id) && store.peers().size() >= SyncPeerStore::maxDevices;
    if (!store.upsert(device)) {
        if (full) {
            const QString reason =
                u"This computer already has the most paired devices it can hold"_s;
            // Without a key an older joiner takes this for nothing and waits
            // as before; ours shows the reason.
            reply(syncMessageOf(SyncPair{identity.deviceId(), identity.deviceName(), std::nullopt,
                                         reason, std::nullopt, std::nullopt}));
            m_context.say(u"Refused to pair with "_s + SyncDevice::cleanName(device.name) +
                          u": "_s + reason + u" ("_s + QString::number(SyncPeerStore::maxDevices) +
                          u")"_s);
        } else {
            SyncLog::write(u"refused to pair: the device's id or key is not usable"_s);
        }
        return std::nullopt;
    }
    const SyncDevice stored = *store.peer(device.id);
    Q_EMIT this->stored(stored);
    reply(request());
    m_context.say(u"Paired with "_s + stored.name);
    Q_EMIT paired(stored);
    end();
    endJoin(stored);
    Q_EMIT settled(stored);
    return stored;
}
