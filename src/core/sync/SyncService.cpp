#include "core/sync/SyncService.h"

#include "core/prefs/Preferences.h"
#include "core/store/Clip.h"
#include "core/sync/InboundAdmission.h"
#include "core/sync/LocalAddresses.h"
#include "core/sync/PairingCode.h"
#include "core/sync/PairingLink.h"
#include "core/sync/SyncCrypto.h"
#include "core/sync/SyncIdentity.h"
#include "core/sync/SyncLog.h"
#include "core/util/SettingValue.h"
#include "platform/Clock.h"
#include "platform/SettingsStore.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <numeric>

using namespace Qt::StringLiterals;

namespace {
const QString serviceType = u"_tindrel._tcp"_s;
const QString unpairedKey = u"syncUnpairedIds"_s;
// DNS-SD labels hold at most 63 bytes.
constexpr qsizetype maxServiceNameBytes = 63;
// How long a join's relay room is waited on while the relay cannot be
// reached.
constexpr std::chrono::minutes joinRelayWait{3};
// The host is in its room before its code is shown and answers at once; a
// request that has reached the room gets no answer after this.
constexpr std::chrono::seconds joinRelayAnswerWait{5};

QString boolText(bool value) {
    return value ? u"true"_s : u"false"_s;
}

QString quoted(const QString& name) {
    return u"\u201c"_s + name + u"\u201d"_s;
}

// The device name cut to whole characters that fit in a DNS-SD label.
QString serviceName(const QString& deviceName) {
    QString name = deviceName;
    while (name.toUtf8().size() > maxServiceNameBytes) {
        name.chop(1);
        if (!name.isEmpty() && name.back().isHighSurrogate())
            name.chop(1);
    }
    return name;
}
// A link we are done with: its late callbacks must not reach us, and it may
// still be inside one of its own, so it goes once control returns.
void discard(RelayLink* link, const QObject* receiver) {
    link->disconnect(receiver);
    link->close();
    link->deleteLater();
}
} // namespace

SyncService::SyncService(Preferences& prefs, SettingsStore& settings, const Clock& clock,
                         SyncIdentity& identity, ServiceDiscovery& discovery, Options options,
                         QObject* parent)
    : QObject(parent), m_prefs(prefs), m_settings(settings), m_clock(clock), m_identity(identity),
      m_discovery(discovery), m_options(std::move(options)), m_peerStore(settings, clock),
      m_replayGuard(std::make_unique<ReplayGuard>(m_options.receivedClipsPath)) {
    loadUnpairedIds();
    m_pairingTimer.setSingleShot(true);
    connect(&m_pairingTimer, &QTimer::timeout, this, &SyncService::endPairing);
    m_keepAliveTimer.setInterval(m_options.keepAlive);
    connect(&m_keepAliveTimer, &QTimer::timeout, this,
            [this] { broadcastRaw(SyncMessage::ping()); });

    connect(&m_prefs, &Preferences::syncEnabledChanged, this, [this] {
        if (m_prefs.syncEnabled())
            start();
        else if (m_isRunning)
            stop();
    });

    // Discovery reports on the main thread, but perhaps from inside one of
    // our own calls; each report is handled as an event of its own.
    m_discovery.onServicesChanged = [this](const QList<ServiceDiscovery::Service>& services) {
        const quint64 generation = m_runGeneration;
        QMetaObject::invokeMethod(
            this,
            [this, services, generation] {
                if (m_isRunning && generation == m_runGeneration)
                    handleServices(services);
            },
            Qt::QueuedConnection);
    };
    m_discovery.onPublished = [this](const QString& name) {
        QMetaObject::invokeMethod(
            this,
            [this, name] {
                if (!m_isRunning || !m_listener)
                    return;
                if (name != serviceName(m_identity.deviceName()))
                    SyncLog::write(u"published as "_s + quoted(name) +
                                   u" — another device on the network has our name"_s);
                setAdvertising(true);
                setLastEvent(u"Advertising on port "_s +
                             (m_listenerPort ? QString::number(m_listenerPort) : u"?"_s) +
                             u" via "_s + listenAddresses().join(u", "_s));
            },
            Qt::QueuedConnection);
    };
    m_discovery.onPublishFailed = [this](const QString& error) {
        QMetaObject::invokeMethod(
            this,
            [this, error] {
                if (!m_isRunning)
                    return;
                setAdvertising(false);
                setLastEvent(u"Listener failed: "_s + error +
                             u" — check that no firewall blocks Tindrel"_s);
            },
            Qt::QueuedConnection);
    };
    m_discovery.onAvailabilityChanged = [this](bool available) {
        QMetaObject::invokeMethod(
            this,
            [this, available] {
                if (available == m_discoveryWasAvailable)
                    return;
                m_discoveryWasAvailable = available;
                if (!m_isRunning)
                    return;
                if (available) {
                    // The discovery side publishes and browses again by itself.
                    SyncLog::write(u"avahi-daemon is back"_s);
                } else {
                    setAdvertising(false);
                    setLastEvent(u"avahi-daemon is not running — devices on this network "
                                 "cannot find this one"_s);
                }
            },
            Qt::QueuedConnection);
    };
}

SyncService::~SyncService() {
    m_discovery.onServicesChanged = nullptr;
    m_discovery.onPublished = nullptr;
    m_discovery.onPublishFailed = nullptr;
    m_discovery.onAvailabilityChanged = nullptr;
    if (m_isRunning) {
        m_discovery.unpublish();
        m_discovery.stopBrowsing();
    }
    for (SyncConnection* connection : std::as_const(m_connections))
        connection->disconnect(this);
    for (RelayLink* link : std::as_const(m_relayLinks))
        link->disconnect(this);
    for (RelayLink* link : {m_pairingRelayLink, m_joinRelayLink})
        if (link)
            link->disconnect(this);
}

QStringList SyncService::connectedPeerIds() const {
    QStringList ids(m_connectedPeerIds.begin(), m_connectedPeerIds.end());
    ids.sort();
    return ids;
}

QStringList SyncService::relayConnectedPeerIds() const {
    QStringList ids(m_relayConnectedPeerIds.begin(), m_relayConnectedPeerIds.end());
    ids.sort();
    return ids;
}

// --- lifecycle ---

void SyncService::start() {
    SyncLog::write(u"start() called — isRunning="_s + boolText(m_isRunning) + u" syncEnabled="_s +
                   boolText(m_prefs.syncEnabled()));
    if (m_isRunning || !m_prefs.syncEnabled()) {
        SyncLog::write(u"start() bailed out"_s);
        return;
    }
    ++m_runGeneration;
    setRunning(true);
    // Without a listener nobody can reach us: the start is undone and the
    // reason stays the last thing said.
    if (!startListener()) {
        setRunning(false);
        return;
    }
    m_discovery.browse(serviceType);
    m_keepAliveTimer.start();
    startRelayLinks();
    setLastEvent(u"Sync started as "_s + quoted(m_identity.deviceName()));
    m_discoveryWasAvailable = m_discovery.isAvailable();
    if (!m_discoveryWasAvailable)
        setLastEvent(u"avahi-daemon is not running — devices on this network cannot find "
                     "this one"_s);
}

void SyncService::stop() {
    setRunning(false);
    ++m_runGeneration;
    stopListener();
    m_discovery.stopBrowsing();
    m_keepAliveTimer.stop();
    // Each close is reported later; the connection is deleted then.
    const QList<SyncConnection*> connections = std::exchange(m_connections, {});
    m_greeted.clear();
    for (SyncConnection* connection : connections)
        connection->close();
    setConnected({});
    stopRelayLinks();
    endPairing();
    dropJoinRelay(false);
    m_join = {};
    setLastEvent(u"Sync stopped"_s);
}

bool SyncService::startListener() {
    auto* listener = new QTcpServer(this);
    bool listening = listener->listen(m_options.listenAddress, m_options.port);
    // Our port is taken (a second user, another program): any port will do,
    // peers learn it through DNS-SD.
    if (!listening && m_options.port != 0)
        listening = listener->listen(m_options.listenAddress, 0);
    if (!listening) {
        const QString error = listener->errorString();
        delete listener;
        setLastEvent(u"Could not start listener: "_s + error);
        return false;
    }
    m_listener = listener;
    connect(listener, &QTcpServer::newConnection, this, &SyncService::acceptPending);
    connect(listener, &QTcpServer::acceptError, this, [this, listener] {
        if (listener != m_listener)
            return;
        setAdvertising(false);
        setLastEvent(u"Listener failed: "_s + listener->errorString() +
                     u" — check that no firewall blocks Tindrel"_s);
    });
    SyncLog::write(u"listener created, starting…"_s);
    setListenerPort(listener->serverPort());
    publish();
    return true;
}

void SyncService::stopListener() {
    if (m_listener) {
        m_discovery.unpublish();
        m_listener->close();
        m_listener->deleteLater();
        m_listener = nullptr;
    }
    setAdvertising(false);
}

void SyncService::publish() {
    // Built once per listener: a pairing window opened later is not
    // republished.
    ServiceDiscovery::Txt txt;
    txt.insert(u"did"_s, m_identity.deviceId());
    txt.insert(u"dn"_s, m_identity.deviceName());
    txt.insert(u"pl"_s, u"linux"_s);
    txt.insert(u"pr"_s, m_pairingCode.isEmpty() ? u"0"_s : u"1"_s);
    m_discovery.publish(serviceType, serviceName(m_identity.deviceName()),
                        static_cast<quint16>(m_listenerPort), txt);
}

// --- inbound connections ---

void SyncService::acceptPending() {
    while (m_listener && m_listener->hasPendingConnections()) {
        QTcpSocket* socket = m_listener->nextPendingConnection();
        // Callers that have not shown a key share a fixed number of slots, a
        // few per address; a newcomer pushes out the oldest, so a flood costs
        // its sender sockets and never shuts out a paired device.
        QList<SyncConnection*> waiting;
        QList<QHostAddress> addresses;
        for (SyncConnection* connection : std::as_const(m_connections)) {
            if (connection->role() == SyncConnection::Role::inbound && !connection->boundKey() &&
                !connection->isClosed()) {
                waiting.append(connection);
                addresses.append(connection->peerAddress());
            }
        }
        const QList<qsizetype> evicted = InboundAdmission::evictions(
            addresses, socket->peerAddress(), {maxUnboundInbound, maxUnboundPerAddress});
        if (!evicted.isEmpty())
            SyncLog::write(u"closed "_s + QString::number(evicted.size()) +
                           u" unidentified inbound connection(s) to make room for one from "_s +
                           socket->peerAddress().toString());
        for (qsizetype index : evicted)
            waiting.at(index)->close();
        const QList<SyncConnection::CandidateKey> candidates = candidateKeys();
        SyncLog::write(u"inbound connection — "_s + QString::number(candidates.size()) +
                       u" candidate key(s), pairing="_s + boolText(!m_pairingCode.isEmpty()));
        auto* connection =
            new SyncConnection(socket, SyncConnection::Role::inbound, candidates, this);
        connection->setLimits(m_options.connectionLimits);
        wire(connection);
        connection->start();
    }
}

QList<SyncConnection::CandidateKey> SyncService::candidateKeys() const {
    QList<SyncConnection::CandidateKey> candidates;
    for (const SyncDevice& device : m_peerStore.peers()) {
        if (!device.isEnabled())
            continue;
        if (const auto key = sessionKey(device))
            candidates.append({device.id, *key});
    }
    // Last, so that a paired device is never taken for a pairing one.
    if (!m_pairingCode.isEmpty() && !m_pairingKey.isEmpty())
        candidates.append({std::nullopt, m_pairingKey});
    return candidates;
}

void SyncService::wire(SyncConnection* connection) {
    m_connections.append(connection);
    connect(connection, &SyncConnection::messageReceived, this,
            [this, connection](const SyncMessage& message) { handle(message, connection); });
    connect(connection, &SyncConnection::closed, this,
            [this, connection] { connectionClosed(connection); });
}

void SyncService::connectionClosed(SyncConnection* connection) {
    connection->deleteLater();
    const bool greeted = m_greeted.remove(connection);
    if (!m_connections.removeOne(connection))
        return; // dropped by stop(), which has already cleared the state
    if (connection->isPairing() && connection->role() == SyncConnection::Role::outbound)
        reportUnansweredJoin();
    const std::optional<QString> id = connection->peerId();
    if (!id || !greeted)
        return;
    // Crossed dials leave two connections to one device; the device is still
    // connected while the other one has said hello.
    const bool stillGreeted =
        std::any_of(m_greeted.cbegin(), m_greeted.cend(), [&](const SyncConnection* other) {
            return other->peerId() == id && !other->isClosed();
        });
    if (!stillGreeted && m_connectedPeerIds.contains(*id)) {
        QSet<QString> ids = m_connectedPeerIds;
        ids.remove(*id);
        setConnected(std::move(ids));
    }
}

// --- discovery and dialling ---

void SyncService::handleServices(const QList<ServiceDiscovery::Service>& services) {
    int unpaired = 0;
    const QString ownId = m_identity.deviceId();
    for (const ServiceDiscovery::Service& service : services) {
        const QString id = service.txt.value(u"did"_s);
        if (id.isEmpty() || id == ownId || id.size() > SyncDevice::maxIdLength ||
            service.addresses.isEmpty())
            continue;
        const SyncEndpoint endpoint{service.addresses.first(), service.port};
        rememberEndpoint(id, endpoint);
        if (const std::optional<SyncDevice> device = m_peerStore.peer(id))
            connectIfNeeded(*device, endpoint);
        else
            ++unpaired;
    }
    setDiscoveredUnpaired(unpaired);
    // A code typed before its host was found still reaches it.
    if (m_join.active && !m_join.codeKey.isEmpty() && dialUnpaired(m_join.codeKey) > 0)
        m_join.triedNetwork = true;
}

void SyncService::rememberEndpoint(const QString& id, const SyncEndpoint& endpoint) {
    if (!m_endpointsByPeer.contains(id) && m_endpointsByPeer.size() >= maxKnownEndpoints) {
        // A crowded network must not push out the devices we are paired with.
        if (!m_peerStore.peer(id))
            return;
        for (auto it = m_endpointsByPeer.begin(); it != m_endpointsByPeer.end(); ++it) {
            if (!m_peerStore.peer(it.key())) {
                m_endpointsByPeer.erase(it);
                break;
            }
        }
        if (m_endpointsByPeer.size() >= maxKnownEndpoints)
            return;
    }
    m_endpointsByPeer.insert(id, endpoint);
}

void SyncService::connectIfNeeded(const SyncDevice& device, const SyncEndpoint& endpoint) {
    if (!m_isRunning || !device.isEnabled() || m_connectedPeerIds.contains(device.id))
        return;
    const bool dialled = std::any_of(
        m_connections.cbegin(), m_connections.cend(), [&](const SyncConnection* connection) {
            return !connection->isClosed() && connection->peerId() == device.id;
        });
    if (dialled)
        return;
    const std::optional<QByteArray> key = sessionKey(device);
    if (!key)
        return;
    // Shows in sync.log where a LAN link stalls: finding the device or reaching it.
    SyncLog::write(u"dialling "_s + device.name + u" at "_s + endpoint.address.toString() + u":"_s +
                   QString::number(endpoint.port));
    auto* connection = new SyncConnection(endpoint, device.id, device.name, *key, this);
    connection->setLimits(m_options.connectionLimits);
    wire(connection);
    connection->start();
    connection->send(SyncMessage::hello(m_identity.deviceId(), m_identity.deviceName()));
    // Whatever answers on that port without saying hello is not the device.
    QTimer::singleShot(m_options.helloTimeout, connection, [this, connection] {
        if (!m_greeted.contains(connection))
            connection->close();
    });
}

void SyncService::connectKnownEndpoints() {
    for (auto it = m_endpointsByPeer.cbegin(); it != m_endpointsByPeer.cend(); ++it)
        if (const std::optional<SyncDevice> device = m_peerStore.peer(it.key()))
            connectIfNeeded(*device, it.value());
}

// --- dispatch on direct connections ---

void SyncService::handle(const SyncMessage& message, SyncConnection* connection) {
    if (connection->isClosed() || !m_connections.contains(connection))
        return;
    if (isOwnOrigin(message)) {
        SyncLog::write(u"dropped a message that claims to come from this device"_s);
        return;
    }
    if (connection->peerId() && !connection->peerName()) {
        if (const std::optional<SyncDevice> device = m_peerStore.peer(*connection->peerId()))
            connection->setPeerName(device->name);
    }
    // A pairing connection carries nothing but the pairing exchange, and
    // nothing else carries it.
    if (connection->isPairing()) {
        if (message.type == SyncMessageType::pair)
            handlePair(message, connection);
        return;
    }
    // A device that dials us says hello before anything else. A caller that
    // does not is playing back frames recorded earlier (they open with the
    // key all the same): nothing it sends is acted on.
    if (connection->role() == SyncConnection::Role::inbound && !m_greeted.contains(connection) &&
        message.type != SyncMessageType::hello) {
        SyncLog::write(u"a caller sent "_s + syncMessageTypeName(message.type) +
                       u" before its hello — not acted on, connection closed"_s);
        connection->close();
        return;
    }
    switch (message.type) {
    case SyncMessageType::hello:
        handleHello(message, connection);
        break;
    case SyncMessageType::clip:
        handleClip(message, connection);
        break;
    case SyncMessageType::devices:
        if (message.devices && connection->peerId())
            mergeRoster(*message.devices, *connection->peerId(),
                        connection->peerName().value_or(QString()));
        break;
    case SyncMessageType::pins:
        if (connection->peerId())
            handlePins(message, *connection->peerId());
        break;
    case SyncMessageType::pair: // only on pairing connections
    case SyncMessageType::ack:
    case SyncMessageType::ping:
        break;
    }
}

void SyncService::handleHello(const SyncMessage& message, SyncConnection* connection) {
    if (!message.deviceId)
        return;
    const QString id = *message.deviceId;
    // The key already says who this is; a hello naming someone else is a lie.
    if (connection->peerId() != id) {
        SyncLog::write(u"hello names another device than the connection's key — ignored"_s);
        return;
    }
    const std::optional<SyncDevice> device = m_peerStore.peer(id);
    if (!device)
        return;
    m_greeted.insert(connection);
    if (!m_connectedPeerIds.contains(id)) {
        SyncLog::write(u"lan connected for "_s + device->name);
        QSet<QString> ids = m_connectedPeerIds;
        ids.insert(id);
        setConnected(std::move(ids));
    } else {
        setConnected(m_connectedPeerIds);
    }
    m_peerStore.touch(id);
    republishPeers();
    const qint64 protocol = message.proto.value_or(1);
    m_peerProtocols.insert(id, protocol);
    if (connection->role() == SyncConnection::Role::inbound)
        connection->send(SyncMessage::hello(m_identity.deviceId(), m_identity.deviceName()));
    if (protocol < 2)
        return;
    if (const std::optional<SyncMessage> roster = rosterMessage(id))
        connection->send(*roster);
    if (protocol < 3)
        return;
    if (const std::optional<SyncMessage> pins = pinsMessage())
        connection->send(*pins);
}

void SyncService::handleClip(const SyncMessage& message, SyncConnection* connection) {
    if (!m_prefs.syncReceive() || !message.text || !message.hash || message.text->isEmpty())
        return;
    // Acknowledged whatever comes of it, as a copy seen before always was.
    if (message.id)
        connection->send(SyncMessage::ack(*message.id));
    if (!admitClip(message, connection->peerId().value_or(QString()),
                   connection->peerName().value_or(QString())))
        return;
    const QString origin =
        message.originName ? SyncDevice::cleanName(*message.originName) : QString();
    QString sender = origin;
    if (!message.originName)
        sender = connection->peerName().value_or(u"another device"_s);
    Q_EMIT remoteClipReceived(*message.text, sender);
    setLastEvent(u"Received a clip from "_s + (message.originName ? origin : u"a device"_s));
}

// Whether a clip that came from `peerId` is to be handed over: it is no
// frame played back again, and its text was not sent or received lately.
bool SyncService::admitClip(const SyncMessage& message, const QString& peerId,
                            const QString& peerName) {
    const double now = m_clock.now().unix();
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

// --- pairing ---

void SyncService::startPairing(std::chrono::seconds duration) {
    const quint64 attempt = ++m_pairingAttempt;
    const std::optional<QString> code = PairingCode::generate();
    if (!code) {
        setPreparingPairing(false);
        setLastEvent(u"Could not open pairing: no secure random numbers"_s);
        return;
    }
    setPreparingPairing(true);
    // 200,000 HMAC rounds would hold the event loop for a noticeable moment.
    QtConcurrent::run([code = *code] {
        return SyncCrypto::pairingKey(code);
    }).then(this, [this, attempt, code = *code, duration](const std::optional<QByteArray>& key) {
        if (attempt != m_pairingAttempt)
            return; // cancelled or replaced while the key was derived
        setPreparingPairing(false);
        if (!key) {
            setLastEvent(u"Could not open pairing: the pairing key could not be derived"_s);
            return;
        }
        openPairing(code, *key, duration);
    });
}

void SyncService::openPairing(const QString& code, const QByteArray& key,
                              std::chrono::seconds duration) {
    m_pairingCode = code;
    m_pairingKey = key;
    m_pairingExpiry = QDateTime::currentDateTimeUtc().addSecs(duration.count());
    Q_EMIT pairingCodeChanged();
    Q_EMIT pairingExpiryChanged();
    startPairingRelay();
    m_pairingTimer.start(duration);
    setLastEvent(
        u"Pairing open for "_s +
        QString::number(std::chrono::duration_cast<std::chrono::minutes>(duration).count()) +
        u" minutes"_s);
}

void SyncService::setPreparingPairing(bool preparing) {
    if (preparing == m_preparingPairing)
        return;
    m_preparingPairing = preparing;
    Q_EMIT isPreparingPairingChanged();
}

void SyncService::startPairingRelay() {
    if (RelayLink* link = std::exchange(m_pairingRelayLink, nullptr)) {
        discard(link, this);
    }
    if (!m_prefs.relayEnabled() || m_prefs.relayURL().isEmpty())
        return;
    const QString ownId = m_identity.deviceId();
    const std::optional<QUrl> url =
        RelayLink::linkUrl(m_prefs.relayURL(), SyncCrypto::pairingRoomId(m_pairingKey), ownId);
    if (!url)
        return;
    auto* link = new RelayLink(*url, u"pairing"_s, u"pairing"_s, m_pairingKey, ownId, this);
    link->setTiming(m_options.relayTiming);
    connect(link, &RelayLink::messageReceived, this, [this, link](const SyncMessage& message) {
        if (link != m_pairingRelayLink || message.type != SyncMessageType::pair)
            return;
        acceptPair(message, [link](const SyncMessage& reply) { link->send(reply); });
    });
    m_pairingRelayLink = link;
    link->start();
    setLastEvent(u"Pairing is also open over the relay"_s);
}

void SyncService::endPairing() {
    ++m_pairingAttempt;
    setPreparingPairing(false);
    m_pairingTimer.stop();
    if (RelayLink* link = std::exchange(m_pairingRelayLink, nullptr)) {
        link->disconnect(this);
        // The answer to the device that just paired may still be on its way.
        link->closeAfterSending();
        QTimer::singleShot(std::chrono::seconds(3), link, &QObject::deleteLater);
    }
    // Callers that opened with this window's key before it closed do not
    // get to pair after it.
    for (SyncConnection* connection : std::as_const(m_connections))
        if (connection->isPairing() && connection->role() == SyncConnection::Role::inbound)
            connection->close();
    m_pairingKey.clear();
    if (!m_pairingCode.isEmpty()) {
        m_pairingCode.clear();
        m_pairingExpiry = QDateTime();
        Q_EMIT pairingCodeChanged();
        Q_EMIT pairingExpiryChanged();
    }
}

std::optional<QString> SyncService::pairingURL() const {
    if (m_pairingCode.isEmpty() || m_listenerPort <= 0)
        return std::nullopt;
    return PairingLink::make(m_pairingCode, static_cast<quint16>(m_listenerPort), listenAddresses(),
                             m_prefs.relayEnabled(), m_prefs.relayURL());
}

QStringList SyncService::listenAddresses() const {
    const QHostAddress& bound = m_options.listenAddress;
    // A link naming addresses nothing listens on would send a joiner nowhere.
    if (bound.protocol() == QAbstractSocket::IPv4Protocol && bound != QHostAddress::AnyIPv4)
        return {bound.toString()};
    return LocalAddresses::ipv4();
}

void SyncService::joinPairing(const QString& codeOrLink) {
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
        finishJoin(u"No device is waiting to pair on this network"_s, false);
        return;
    }
    const quint64 generation = m_runGeneration;
    QtConcurrent::run([code] {
        return SyncCrypto::pairingKey(code);
    }).then(this, [this, generation, target](const std::optional<QByteArray>& key) {
        // Stopped meanwhile: the user no longer expects anything to go out.
        if (generation != m_runGeneration)
            return;
        if (!key) {
            finishJoin(u"No device is waiting to pair on this network"_s, false);
            return;
        }
        sendPairingRequests(*key, target);
    });
}

void SyncService::sendPairingRequests(const QByteArray& key,
                                      const std::optional<PairingLink::Target>& target) {
    m_join = {};
    int dialled = 0;
    QString relayURL;
    if (target) {
        // The link says where the host is: no discovery needed.
        for (const QHostAddress& host : std::as_const(target->hosts)) {
            dialPairing({host, target->port}, std::nullopt, key);
            ++dialled;
        }
        relayURL = target->relay;
    } else {
        m_join.codeKey = key;
        dialled = dialUnpaired(key);
        // The host offers its window on the relay too, and may be reachable
        // only there.
        if (m_prefs.relayEnabled())
            relayURL = m_prefs.relayURL();
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
    finishJoin(m_join.active ? u"Pairing request sent"_s
                             : u"No device is waiting to pair on this network"_s,
               m_join.active);
}

int SyncService::dialUnpaired(const QByteArray& key) {
    int dialled = 0;
    for (auto it = m_endpointsByPeer.cbegin(); it != m_endpointsByPeer.cend(); ++it) {
        if (m_peerStore.peer(it.key()) || it.key() == m_identity.deviceId() ||
            m_join.dialled.contains(it.key()))
            continue;
        m_join.dialled.insert(it.key());
        dialPairing(it.value(), it.key(), key);
        ++dialled;
    }
    return dialled;
}

int SyncService::pendingJoins() const {
    const auto dials = std::count_if(
        m_connections.cbegin(), m_connections.cend(), [](const SyncConnection* connection) {
            return connection->isPairing() &&
                   connection->role() == SyncConnection::Role::outbound && !connection->isClosed();
        });
    return int(dials) + (m_joinRelayLink ? 1 : 0);
}

void SyncService::finishJoin(const QString& outcome, bool sent) {
    setLastEvent(outcome);
    Q_EMIT joinFinished(outcome, sent);
}

void SyncService::dialPairing(const SyncEndpoint& endpoint, const std::optional<QString>& peerId,
                              const QByteArray& key) {
    auto* connection = new SyncConnection(endpoint, {{std::nullopt, key}}, this);
    connection->setPeerId(peerId);
    connection->setPeerName(u"pairing"_s);
    connection->setBoundKey(key);
    connection->setPairing(true);
    connection->setLimits(m_options.connectionLimits);
    wire(connection);
    connection->start();
    connection->send(SyncMessage::pair(m_identity.deviceId(), m_identity.deviceName(),
                                       m_identity.deviceKeyBase64()));
    // A device that holds the window answers at once; one that cannot open
    // our frame may still keep the socket open.
    QTimer::singleShot(m_options.helloTimeout, connection, [connection] { connection->close(); });
}

void SyncService::joinOverRelay(const QString& relayURL, const QByteArray& key) {
    dropJoinRelay(false);
    const QString ownId = m_identity.deviceId();
    const std::optional<QUrl> url =
        RelayLink::linkUrl(relayURL, SyncCrypto::pairingRoomId(key), ownId);
    if (!url) {
        SyncLog::write(u"the relay to pair through is not a ws:// or wss:// URL"_s);
        return;
    }
    auto* link = new RelayLink(*url, u"pairing"_s, u"pairing"_s, key, ownId, this);
    link->setTiming(m_options.relayTiming);
    connect(link, &RelayLink::messageReceived, this, [this, link](const SyncMessage& message) {
        if (link != m_joinRelayLink || message.type != SyncMessageType::pair)
            return;
        // A success ends the join, this link included.
        acceptPair(message, [link](const SyncMessage& reply) { link->send(reply); });
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
        link->send(SyncMessage::pair(m_identity.deviceId(), m_identity.deviceName(),
                                     m_identity.deviceKeyBase64()));
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

void SyncService::dropJoinRelay(bool afterSending) {
    RelayLink* link = std::exchange(m_joinRelayLink, nullptr);
    if (!link)
        return;
    if (!afterSending) {
        discard(link, this);
        return;
    }
    link->disconnect(this);
    link->closeAfterSending();
    QTimer::singleShot(std::chrono::seconds(3), link, &QObject::deleteLater);
}

void SyncService::endJoin(const SyncDevice& device) {
    if (!m_join.active && !m_joinRelayLink)
        return;
    m_join = {};
    // Our answer to the host may still be on its way.
    dropJoinRelay(true);
    // The host answered on one path; the others must not pair a second time.
    for (SyncConnection* connection : std::as_const(m_connections))
        if (connection->isPairing() && connection->role() == SyncConnection::Role::outbound)
            connection->close();
    Q_EMIT joinEnded(u"Paired with "_s + device.name, true);
}

void SyncService::reportUnansweredJoin() {
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
    setLastEvent(outcome);
    Q_EMIT joinEnded(outcome, false);
}

void SyncService::handlePair(const SyncMessage& message, SyncConnection* connection) {
    // What we accepted as a host counts only while the window is open; a
    // joiner's own dial is waiting for exactly this answer.
    if (connection->role() == SyncConnection::Role::inbound && m_pairingCode.isEmpty())
        return;
    const std::optional<SyncEndpoint> dialled = connection->endpoint();
    const std::optional<SyncDevice> device =
        acceptPair(message, [connection](const SyncMessage& reply) { connection->send(reply); });
    if (!device)
        return;
    // Out of the way first, so that the dial below is not mistaken for a
    // duplicate of a connection that is only closing.
    unregister(connection);
    connection->close();
    // A pasted link reached the host without discovery; its address is the
    // one to dial again.
    if (dialled && !m_endpointsByPeer.contains(device->id))
        rememberEndpoint(device->id, *dialled);
    if (m_endpointsByPeer.contains(device->id))
        connectIfNeeded(*device, m_endpointsByPeer.value(device->id));
}

std::optional<SyncDevice>
SyncService::acceptPair(const SyncMessage& message,
                        const std::function<void(const SyncMessage&)>& reply) {
    // The other side's refusal: a pair message with a reason and no key.
    if (!message.deviceKey && message.text && !message.text->isEmpty()) {
        const QString who = message.deviceName ? SyncDevice::cleanName(*message.deviceName)
                                               : u"The other computer"_s;
        const QString reason = SyncDevice::cleanName(message.text->left(maxRefusalLength));
        setLastEvent(who + u" refused to pair: "_s + reason);
        Q_EMIT joinRefused(m_lastEvent);
        return std::nullopt;
    }
    if (!message.deviceId || !message.deviceName || !message.deviceKey ||
        !SyncCrypto::decodeKey(*message.deviceKey))
        return std::nullopt;
    if (*message.deviceId == m_identity.deviceId()) {
        SyncLog::write(u"refused to pair with a device that has our own id"_s);
        return std::nullopt;
    }
    SyncDevice device{*message.deviceId, *message.deviceName, *message.deviceKey, {}, {}, {}};
    device.lastSeen = m_clock.now();
    device.platform = u"unknown"_s;
    const bool full =
        !m_peerStore.peer(device.id) && m_peerStore.peers().size() >= SyncPeerStore::maxDevices;
    if (!m_peerStore.upsert(device)) {
        if (full) {
            const QString reason =
                u"This computer already has the most paired devices it can hold"_s;
            // Without a key an older joiner takes this for nothing and waits
            // as before; ours shows the reason.
            SyncMessage refusal;
            refusal.type = SyncMessageType::pair;
            refusal.deviceId = m_identity.deviceId();
            refusal.deviceName = m_identity.deviceName();
            refusal.text = reason;
            reply(refusal);
            setLastEvent(u"Refused to pair with "_s + SyncDevice::cleanName(device.name) + u": "_s +
                         reason + u" ("_s + QString::number(SyncPeerStore::maxDevices) + u")"_s);
        } else {
            SyncLog::write(u"refused to pair: the device's id or key is not usable"_s);
        }
        return std::nullopt;
    }
    republishPeers();
    // Pairing again is the user's word: it overrides an earlier unpair.
    if (m_unpairedIds.removeAll(device.id) > 0)
        saveUnpairedIds();
    reply(SyncMessage::pair(m_identity.deviceId(), m_identity.deviceName(),
                            m_identity.deviceKeyBase64()));
    const std::optional<SyncDevice> stored = m_peerStore.peer(device.id);
    setLastEvent(u"Paired with "_s + stored->name);
    Q_EMIT paired(*stored);
    endPairing();
    endJoin(*stored);
    updateRelayLinks();
    broadcastRosterOverLAN();
    return stored;
}

void SyncService::unregister(SyncConnection* connection) {
    m_connections.removeOne(connection);
    m_greeted.remove(connection);
    connection->disconnect(this);
    connect(connection, &SyncConnection::closed, connection, &QObject::deleteLater);
}

// --- relay links ---

void SyncService::startRelayLinks() {
    stopRelayLinks();
    updateRelayLinks();
}

void SyncService::updateRelayLinks() {
    if (!m_isRunning || !m_prefs.relayEnabled() || m_prefs.relayURL().isEmpty()) {
        stopRelayLinks();
        return;
    }
    // A link that would only be opened again stays: a replacement would drop
    // what is on its way over the old one, and a peer answers a repeated
    // ping only once something changed.
    QHash<QString, RelayLink*> previous = std::exchange(m_relayLinks, {});
    const auto retire = [this](RelayLink* link) {
        m_relayStateGate.forget(link->peerId());
        discard(link, this);
    };
    const QString ownId = m_identity.deviceId();
    qsizetype skipped = 0;
    for (const SyncDevice& device : m_peerStore.peers()) {
        if (!device.isEnabled())
            continue;
        const std::optional<QByteArray> key = sessionKey(device);
        if (!key)
            continue;
        if (m_relayLinks.size() >= maxRelayLinks) {
            ++skipped;
            continue;
        }
        const std::optional<QUrl> url =
            RelayLink::linkUrl(m_prefs.relayURL(), SyncCrypto::roomId(*key), ownId);
        if (!url) {
            for (RelayLink* link : std::as_const(previous))
                retire(link);
            stopRelayLinks();
            setLastEvent(u"Relay URL is not valid"_s);
            return;
        }
        if (RelayLink* old = previous.take(device.id)) {
            if (old->url() == *url) {
                m_relayLinks.insert(device.id, old);
                continue;
            }
            retire(old);
        }
        auto* link = new RelayLink(*url, device.id, device.name, *key, ownId, this);
        link->setTiming(m_options.relayTiming);
        connect(link, &RelayLink::messageReceived, this,
                [this, link](const SyncMessage& message) { handleRelay(message, link); });
        connect(link, &RelayLink::connectedChanged, this,
                [this, link](bool connected) { relayConnectedChanged(link, connected); });
        connect(link, &RelayLink::unreachable, this, [this, link](const QString& reason) {
            // Every link to one relay fails alike; one line says it.
            const QString event = u"Cannot reach the relay: "_s + reason;
            if (m_relayLinks.value(link->peerId()) == link && event != m_lastEvent)
                setLastEvent(event);
        });
        m_relayLinks.insert(device.id, link);
        link->start();
    }
    for (RelayLink* link : std::as_const(previous))
        retire(link);
    QSet<QString> connected;
    for (auto it = m_relayLinks.cbegin(); it != m_relayLinks.cend(); ++it)
        if (m_relayConnectedPeerIds.contains(it.key()) && it.value()->isConnected())
            connected.insert(it.key());
    if (connected != m_relayConnectedPeerIds)
        setRelayConnected(std::move(connected));
    if (skipped > 0)
        SyncLog::write(u"no relay link for "_s + QString::number(skipped) +
                       u" device(s): the relay lets one address hold only "_s +
                       QString::number(maxRelayLinks) + u" links besides pairing"_s);
    if (!m_relayLinks.isEmpty())
        setLastEvent(u"Relay enabled for "_s + QString::number(m_relayLinks.size()) +
                     u" device(s)"_s);
}

void SyncService::stopRelayLinks() {
    for (RelayLink* link : std::as_const(m_relayLinks)) {
        discard(link, this);
    }
    m_relayLinks.clear();
    m_relayStateGate.clear();
    setRelayConnected({});
}

void SyncService::relayConnectedChanged(RelayLink* link, bool connected) {
    if (m_relayLinks.value(link->peerId()) != link)
        return;
    QSet<QString> ids = m_relayConnectedPeerIds;
    if (connected)
        ids.insert(link->peerId());
    else
        ids.remove(link->peerId());
    setRelayConnected(std::move(ids));
    if (!connected)
        return;
    // The relay keeps nothing for a member that joins later, so what goes
    // out now is lost when the peer is not in the room yet. The ping tells
    // a peer that is there to send its side again; one that is not will send
    // its own when it comes.
    link->send(SyncMessage::ping());
    sendRelayState(link);
}

void SyncService::sendRelayState(RelayLink* link) {
    if (const std::optional<SyncMessage> roster = rosterMessage(link->peerId()))
        link->send(*roster);
    if (const std::optional<SyncMessage> pins = pinsMessage())
        link->send(*pins);
}

void SyncService::answerRelayPing(RelayLink* link) {
    const std::optional<SyncMessage> roster = rosterMessage(link->peerId());
    const std::optional<SyncMessage> pins = pinsMessage();
    if (!roster && !pins)
        return;
    const QByteArray fingerprint = QCryptographicHash::hash(
        (roster ? roster->encode() : QByteArray()) + '\n' + (pins ? pins->encode() : QByteArray()),
        QCryptographicHash::Sha256);
    const RelayStateGate::Decision decision =
        m_relayStateGate.decide(link->peerId(), fingerprint, m_clock.now());
    if (decision.answer) {
        if (roster)
            link->send(*roster);
        if (pins)
            link->send(*pins);
        return;
    }
    // Something changed but the last answer was recent: one answer later,
    // however many pings come meanwhile.
    if (decision.retryAfter && m_relayStateGate.defer(link->peerId())) {
        const auto delay = std::chrono::milliseconds(qint64(*decision.retryAfter * 1000.0) + 1);
        QTimer::singleShot(delay, link, [this, link] {
            m_relayStateGate.undefer(link->peerId());
            if (m_relayLinks.value(link->peerId()) == link)
                answerRelayPing(link);
        });
    }
}

void SyncService::handleRelay(const SyncMessage& message, RelayLink* link) {
    if (m_relayLinks.value(link->peerId()) != link)
        return;
    if (isOwnOrigin(message)) {
        SyncLog::write(u"dropped a message that claims to come from this device"_s);
        return;
    }
    switch (message.type) {
    case SyncMessageType::pins:
        handlePins(message, link->peerId());
        break;
    case SyncMessageType::devices:
        if (message.devices)
            mergeRoster(*message.devices, link->peerId(), link->peerName());
        break;
    case SyncMessageType::clip: {
        if (!m_prefs.syncReceive() || !message.text || message.text->isEmpty())
            return;
        if (!admitClip(message, link->peerId(), link->peerName()))
            return;
        const QString sender =
            message.originName ? SyncDevice::cleanName(*message.originName) : link->peerName();
        Q_EMIT remoteClipReceived(*message.text, sender);
        setLastEvent(u"Received a clip via relay from "_s + sender);
        break;
    }
    case SyncMessageType::ping:
        // The peer has just joined the room and missed what we sent.
        answerRelayPing(link);
        break;
    case SyncMessageType::hello:
    case SyncMessageType::pair:
    case SyncMessageType::ack:
        break;
    }
}

// --- one device ---

void SyncService::closePeer(const QString& id) {
    for (SyncConnection* connection : std::as_const(m_connections))
        if (connection->peerId() == id)
            connection->close();
    if (m_connectedPeerIds.contains(id)) {
        QSet<QString> ids = m_connectedPeerIds;
        ids.remove(id);
        setConnected(std::move(ids));
    }
    m_relayStateGate.forget(id);
    if (RelayLink* link = m_relayLinks.take(id)) {
        discard(link, this);
    }
    if (m_relayConnectedPeerIds.contains(id)) {
        QSet<QString> ids = m_relayConnectedPeerIds;
        ids.remove(id);
        setRelayConnected(std::move(ids));
    }
}

void SyncService::setEnabled(bool enabled, const SyncDevice& device) {
    m_peerStore.setEnabled(enabled, device.id);
    republishPeers();
    if (enabled) {
        updateRelayLinks();
        const std::optional<SyncDevice> stored = m_peerStore.peer(device.id);
        if (stored && m_endpointsByPeer.contains(device.id))
            connectIfNeeded(*stored, m_endpointsByPeer.value(device.id));
        setLastEvent(u"Resumed syncing with "_s + device.name);
    } else {
        closePeer(device.id);
        setLastEvent(u"Paused syncing with "_s + device.name);
    }
}

void SyncService::unpair(const SyncDevice& device) {
    m_peerStore.remove(device.id);
    republishPeers();
    // Another device's list must not bring it back behind the user's back.
    m_unpairedIds.removeAll(device.id);
    m_unpairedIds.append(device.id);
    while (m_unpairedIds.size() > maxUnpairedIds)
        m_unpairedIds.removeFirst();
    saveUnpairedIds();
    closePeer(device.id);
    setLastEvent(u"Unpaired "_s + device.name);
}

void SyncService::loadUnpairedIds() {
    const std::optional<QByteArray> bytes = SettingValue::toBytes(m_settings.value(unpairedKey));
    if (!bytes)
        return;
    for (const QJsonValue& value : QJsonDocument::fromJson(*bytes).array())
        if (value.isString() && m_unpairedIds.size() < maxUnpairedIds)
            m_unpairedIds.append(value.toString());
}

void SyncService::saveUnpairedIds() {
    m_settings.setValue(
        unpairedKey,
        QJsonDocument(QJsonArray::fromStringList(m_unpairedIds)).toJson(QJsonDocument::Compact));
    m_settings.sync();
}

// --- sending ---

void SyncService::broadcastRaw(const SyncMessage& message) {
    for (SyncConnection* connection : std::as_const(m_connections))
        if (connection->peerId() && connection->boundKey() && !connection->isPairing())
            connection->send(message);
}

void SyncService::broadcast(const Clip& clip) {
    if (!m_isRunning || !m_prefs.syncSend() || clip.text().isEmpty())
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
    message.originId = m_identity.deviceId();
    message.originName = m_identity.deviceName();
    message.createdAt = clip.createdAt().unix();
    message.hash = hash;
    // A caller hears nothing before its hello is answered: a device that
    // judges us by the same rule would not take it.
    for (SyncConnection* connection : std::as_const(m_connections))
        if (connection->peerId() && !connection->isPairing() &&
            (connection->role() == SyncConnection::Role::outbound ||
             m_greeted.contains(connection)))
            connection->send(message);
    for (RelayLink* link : std::as_const(m_relayLinks))
        link->send(message);
}

void SyncService::broadcastPins(const std::optional<QString>& excluding) {
    const std::optional<SyncMessage> message = pinsMessage();
    if (!message)
        return;
    for (SyncConnection* connection : std::as_const(m_connections)) {
        const std::optional<QString>& id = connection->peerId();
        if (id && !connection->isPairing() && id != excluding && m_peerProtocols.value(*id, 0) >= 3)
            connection->send(*message);
    }
    for (auto it = m_relayLinks.cbegin(); it != m_relayLinks.cend(); ++it)
        if (it.key() != excluding)
            it.value()->send(*message);
}

QList<SyncDevicePayload> SyncService::rosterEntries(const std::optional<QString>& excluding) const {
    QList<SyncDevicePayload> entries;
    for (const SyncDevice& device : m_peerStore.peers())
        if (device.id != excluding)
            entries.append(device.payload());
    return entries;
}

std::optional<SyncMessage> SyncService::rosterMessage(const QString& peerId) const {
    QList<SyncDevicePayload> entries = rosterEntries(peerId);
    if (entries.isEmpty())
        return std::nullopt;
    SyncMessage message;
    message.type = SyncMessageType::devices;
    message.devices = std::move(entries);
    return message;
}

void SyncService::broadcastRosterOverLAN() {
    for (SyncConnection* connection : std::as_const(m_connections)) {
        const std::optional<QString>& id = connection->peerId();
        if (!id || connection->isPairing() || m_peerProtocols.value(*id, 0) < 2)
            continue;
        if (const std::optional<SyncMessage> roster = rosterMessage(*id))
            connection->send(*roster);
    }
}

std::optional<SyncMessage> SyncService::pinsMessage() const {
    if (!m_isRunning || !m_prefs.syncSend() || !pinsProvider)
        return std::nullopt;
    auto [pins, unpinned] = pinsProvider();
    if (pins.isEmpty() && unpinned.isEmpty())
        return std::nullopt;
    SyncMessage message;
    message.type = SyncMessageType::pins;
    message.pins = std::move(pins);
    message.unpinned = std::move(unpinned);

    // A snapshot that cannot be sealed would never arrive: the longest pins
    // stay home instead. A receiver never takes a missing pin for an unpin.
    constexpr qsizetype limit = SyncCrypto::maxSealedSize - SyncCrypto::sealOverhead;
    qsizetype size = message.encode().size();
    if (size <= limit)
        return message;
    QList<SyncPinPayload>& list = *message.pins;
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
    if (message.encode().size() > limit)
        return std::nullopt;
    return message;
}

void SyncService::remember(const QString& hash) {
    m_recentHashes.append(hash);
    while (m_recentHashes.size() > recentHashLimit)
        m_recentHashes.removeFirst();
}

// --- receiving pins and device lists ---

void SyncService::handlePins(const SyncMessage& message, const QString& fromPeer) {
    if (!m_prefs.syncReceive())
        return;
    QList<SyncPinPayload> pins = message.pins.value_or(QList<SyncPinPayload>{});
    QList<SyncUnpinPayload> unpinned = message.unpinned.value_or(QList<SyncUnpinPayload>{});
    if (pins.isEmpty() && unpinned.isEmpty())
        return;
    const std::optional<SyncDevice> device = m_peerStore.peer(fromPeer);
    m_peerClock.admit(fromPeer, device ? device->name : QString(), pins, unpinned,
                      m_clock.now().unix());
    Q_EMIT remotePinsReceived(pins, unpinned, fromPeer);
}

void SyncService::mergeRoster(const QList<SyncDevicePayload>& entries, const QString& sourceId,
                              const QString& sourceName) {
    const QString ownId = m_identity.deviceId();
    const QString source = sourceName.isEmpty() ? u"a paired device"_s : sourceName;
    QStringList added;
    QStringList leftOut;
    // A real list brings a device or two at a time. One message, and one
    // peer while we run, add only a few, and never past half the store: a
    // lying peer must not crowd out the devices the user pairs by hand.
    qsizetype budget = std::min(maxRosterAddsPerMessage,
                                maxRosterAddsPerPeer - m_rosterAddsByPeer.value(sourceId));
    // No device has more than this many peers; the rest of a longer list is
    // not looked at.
    const qsizetype count = std::min(entries.size(), maxRosterEntries);
    for (qsizetype i = 0; i < count; ++i) {
        const SyncDevicePayload& entry = entries.at(i);
        if (entry.id == ownId || m_unpairedIds.contains(entry.id) ||
            !SyncCrypto::decodeKey(entry.key))
            continue;
        const std::optional<SyncDevice> known = m_peerStore.peer(entry.id);
        if (!known) {
            if (budget <= 0 || m_peerStore.peers().size() >= maxRosterDevices) {
                leftOut.append(SyncDevice::cleanName(entry.name));
                continue;
            }
            if (m_peerStore.upsert(SyncDevice::fromPayload(entry))) {
                added.append(m_peerStore.peer(entry.id)->name);
                --budget;
                ++m_rosterAddsByPeer[sourceId];
            }
            continue;
        }
        const QString name = SyncDevice::cleanName(entry.name);
        const std::optional<QString> platform =
            entry.platform ? std::optional(SyncDevice::cleanName(*entry.platform))
                           : known->platform;
        if (name == known->name && platform == known->platform)
            continue;
        SyncDevice renamed = *known;
        renamed.name = name;
        renamed.platform = platform;
        m_peerStore.upsert(renamed);
    }
    if (!leftOut.isEmpty()) {
        constexpr qsizetype named = 5;
        SyncLog::write(u"left out "_s + QString::number(leftOut.size()) +
                       u" new device(s) from the list of "_s + source + u" ("_s +
                       leftOut.first(std::min(named, leftOut.size())).join(u", "_s) +
                       (leftOut.size() > named ? u", …"_s : QString()) +
                       u"): a list adds at most "_s + QString::number(maxRosterAddsPerMessage) +
                       u" at a time and "_s + QString::number(maxRosterAddsPerPeer) +
                       u" per device, and only while fewer than "_s +
                       QString::number(maxRosterDevices) + u" are paired"_s);
    }
    republishPeers();
    if (added.isEmpty())
        return;
    setLastEvent(u"Added "_s + added.join(u", "_s) + u" — synced from "_s + source);
    updateRelayLinks();
    connectKnownEndpoints();
    broadcastRosterOverLAN();
}

// --- helpers ---

bool SyncService::isOwnOrigin(const SyncMessage& message) const {
    const QString ownId = m_identity.deviceId();
    return message.deviceId == ownId || message.originId == ownId;
}

std::optional<QByteArray> SyncService::sessionKey(const SyncDevice& device) const {
    // Our own id in the store (a hand-edited file) is never a peer.
    if (device.id == m_identity.deviceId())
        return std::nullopt;
    const std::optional<QByteArray> theirs = SyncCrypto::decodeKey(device.keyBase64);
    const QByteArray ours = m_identity.deviceKey();
    if (!theirs || ours.size() != SyncCrypto::keySize)
        return std::nullopt;
    return SyncCrypto::sharedKey(ours, *theirs);
}

void SyncService::setRunning(bool running) {
    m_isRunning = running;
    Q_EMIT isRunningChanged();
}

void SyncService::setConnected(QSet<QString> ids) {
    m_connectedPeerIds = std::move(ids);
    Q_EMIT connectedPeerIdsChanged();
}

void SyncService::setRelayConnected(QSet<QString> ids) {
    m_relayConnectedPeerIds = std::move(ids);
    Q_EMIT relayConnectedPeerIdsChanged();
}

void SyncService::setDiscoveredUnpaired(int count) {
    m_discoveredUnpaired = count;
    Q_EMIT discoveredUnpairedChanged();
}

void SyncService::setLastEvent(const QString& event) {
    m_lastEvent = event;
    SyncLog::write(event);
    Q_EMIT lastEventChanged();
}

void SyncService::setAdvertising(bool advertising) {
    m_isAdvertising = advertising;
    Q_EMIT isAdvertisingChanged();
}

void SyncService::setListenerPort(int port) {
    m_listenerPort = port;
    Q_EMIT listenerPortChanged();
}

void SyncService::republishPeers() {
    Q_EMIT peersChanged();
}
