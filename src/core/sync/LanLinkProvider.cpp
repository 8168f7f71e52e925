#include "core/sync/LanLinkProvider.h"

#include "core/sync/InboundAdmission.h"
#include "core/sync/LocalAddresses.h"
#include "core/sync/SyncIdentity.h"
#include "core/sync/SyncLog.h"
#include "core/sync/SyncPeerStore.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <algorithm>

using namespace Qt::StringLiterals;

namespace {
const QString serviceType = u"_tindrel._tcp"_s;
// DNS-SD labels hold at most 63 bytes.
constexpr qsizetype maxServiceNameBytes = 63;

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

const QString noAvahi =
    u"avahi-daemon is not running — devices on this network cannot find this one"_s;
} // namespace

LanLinkProvider::LanLinkProvider(SyncContext& context, ServiceDiscovery& discovery,
                                 const SyncOptions& options, QObject* parent)
    : QObject(parent), m_context(context), m_discovery(discovery), m_options(options) {
    m_keepAliveTimer.setInterval(m_options.keepAlive);
    connect(&m_keepAliveTimer, &QTimer::timeout, this, &LanLinkProvider::keepAlive);

    // Discovery reports on the main thread, but perhaps from inside one of
    // our own calls; each report is handled as an event of its own.
    m_discovery.onServicesChanged = [this](const QList<ServiceDiscovery::Service>& services) {
        const quint64 generation = m_generation;
        QMetaObject::invokeMethod(
            this,
            [this, services, generation] {
                if (m_context.running && generation == m_generation)
                    handleServices(services);
            },
            Qt::QueuedConnection);
    };
    m_discovery.onPublished = [this](const QString& name) {
        QMetaObject::invokeMethod(
            this,
            [this, name] {
                if (!m_context.running || !m_listener)
                    return;
                if (name != serviceName(m_context.identity.deviceName()))
                    SyncLog::write(u"published as "_s + quoted(name) +
                                   u" — another device on the network has our name"_s);
                setAdvertising(true);
                m_context.say(u"Advertising on port "_s +
                              (m_listenerPort ? QString::number(m_listenerPort) : u"?"_s) +
                              u" via "_s + listenAddresses().join(u", "_s));
            },
            Qt::QueuedConnection);
    };
    m_discovery.onPublishFailed = [this](const QString& error) {
        QMetaObject::invokeMethod(
            this,
            [this, error] {
                if (!m_context.running)
                    return;
                setAdvertising(false);
                m_context.say(u"Listener failed: "_s + error +
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
                if (!m_context.running)
                    return;
                if (available) {
                    // The discovery side publishes and browses again by itself.
                    SyncLog::write(u"avahi-daemon is back"_s);
                } else {
                    setAdvertising(false);
                    m_context.say(noAvahi);
                }
            },
            Qt::QueuedConnection);
    };
}

LanLinkProvider::~LanLinkProvider() {
    m_discovery.onServicesChanged = nullptr;
    m_discovery.onPublished = nullptr;
    m_discovery.onPublishFailed = nullptr;
    m_discovery.onAvailabilityChanged = nullptr;
    if (m_listener) {
        m_discovery.unpublish();
        m_discovery.stopBrowsing();
    }
    for (SyncConnection* connection : std::as_const(m_connections))
        connection->disconnect(this);
}

QStringList LanLinkProvider::connectedPeerIds() const {
    QStringList ids(m_connectedPeerIds.begin(), m_connectedPeerIds.end());
    ids.sort();
    return ids;
}

// --- lifecycle ---

bool LanLinkProvider::start() {
    ++m_generation;
    auto* listener = new QTcpServer(this);
    bool listening = listener->listen(m_options.listenAddress, m_options.port);
    // Our port is taken (a second user, another program): any port will do,
    // peers learn it through DNS-SD.
    if (!listening && m_options.port != 0)
        listening = listener->listen(m_options.listenAddress, 0);
    if (!listening) {
        const QString error = listener->errorString();
        delete listener;
        m_context.say(u"Could not start listener: "_s + error);
        return false;
    }
    m_listener = listener;
    connect(listener, &QTcpServer::newConnection, this, &LanLinkProvider::acceptPending);
    connect(listener, &QTcpServer::acceptError, this, [this, listener] {
        if (listener != m_listener)
            return;
        setAdvertising(false);
        m_context.say(u"Listener failed: "_s + listener->errorString() +
                      u" — check that no firewall blocks Tindrel"_s);
    });
    SyncLog::write(u"listener created, starting…"_s);
    setListenerPort(listener->serverPort());
    publish();
    m_discovery.browse(serviceType);
    m_keepAliveTimer.start();
    return true;
}

void LanLinkProvider::checkDiscovery() {
    m_discoveryWasAvailable = m_discovery.isAvailable();
    if (!m_discoveryWasAvailable)
        m_context.say(noAvahi);
}

void LanLinkProvider::stop() {
    ++m_generation;
    if (m_listener) {
        m_discovery.unpublish();
        m_listener->close();
        m_listener->deleteLater();
        m_listener = nullptr;
    }
    setAdvertising(false);
    m_discovery.stopBrowsing();
    m_keepAliveTimer.stop();
    // Each close is reported later; the connection is deleted then.
    const QList<SyncConnection*> connections = std::exchange(m_connections, {});
    m_greeted.clear();
    for (SyncConnection* connection : connections)
        connection->close();
    setConnected({});
}

void LanLinkProvider::publish() {
    // Built once per listener: a pairing window opened later is not
    // republished.
    ServiceDiscovery::Txt txt;
    txt.insert(u"did"_s, m_context.identity.deviceId());
    txt.insert(u"dn"_s, m_context.identity.deviceName());
    txt.insert(u"pl"_s, u"linux"_s);
    txt.insert(u"pr"_s, openPairingKey().isEmpty() ? u"0"_s : u"1"_s);
    m_discovery.publish(serviceType, serviceName(m_context.identity.deviceName()),
                        static_cast<quint16>(m_listenerPort), txt);
}

QStringList LanLinkProvider::listenAddresses() const {
    const QHostAddress& bound = m_options.listenAddress;
    // A link naming addresses nothing listens on would send a joiner nowhere.
    if (bound.protocol() == QAbstractSocket::IPv4Protocol && bound != QHostAddress::AnyIPv4)
        return {bound.toString()};
    return LocalAddresses::ipv4();
}

// --- inbound connections ---

void LanLinkProvider::acceptPending() {
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
        const bool pairing = !openPairingKey().isEmpty();
        SyncLog::write(u"inbound connection — "_s + QString::number(candidates.size()) +
                       u" candidate key(s), pairing="_s + (pairing ? u"true"_s : u"false"_s));
        auto* connection =
            new SyncConnection(socket, SyncConnection::Role::inbound, candidates, this);
        connection->setLimits(m_options.connectionLimits);
        wire(connection);
        connection->start();
    }
}

QList<SyncConnection::CandidateKey> LanLinkProvider::candidateKeys() const {
    QList<SyncConnection::CandidateKey> candidates;
    for (const SyncDevice& device : m_context.peerStore.peers()) {
        if (!device.isEnabled())
            continue;
        if (const auto key = m_context.sessionKey(device))
            candidates.append({device.id, *key});
    }
    // Last, so that a paired device is never taken for a pairing one.
    if (const QByteArray key = openPairingKey(); !key.isEmpty())
        candidates.append({std::nullopt, key});
    return candidates;
}

void LanLinkProvider::wire(SyncConnection* connection) {
    m_connections.append(connection);
    connect(connection, &SyncConnection::messageReceived, this,
            [this, connection](const SyncMessage& message) { handle(message, connection); });
    connect(connection, &SyncConnection::closed, this,
            [this, connection] { connectionClosed(connection); });
}

void LanLinkProvider::connectionClosed(SyncConnection* connection) {
    connection->deleteLater();
    const bool greeted = m_greeted.remove(connection);
    if (!m_connections.removeOne(connection))
        return; // dropped by stop(), which has already cleared the state
    if (connection->isPairing() && connection->role() == SyncConnection::Role::outbound)
        Q_EMIT pairingDialClosed();
    const std::optional<QString> id = connection->peerId();
    if (!id || !greeted)
        return;
    Q_EMIT linkDown(connection);
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

void LanLinkProvider::release(SyncConnection* connection) {
    m_connections.removeOne(connection);
    m_greeted.remove(connection);
    connection->disconnect(this);
    connect(connection, &SyncConnection::closed, connection, &QObject::deleteLater);
}

// --- discovery and dialling ---

void LanLinkProvider::handleServices(const QList<ServiceDiscovery::Service>& services) {
    int unpaired = 0;
    const QString ownId = m_context.identity.deviceId();
    for (const ServiceDiscovery::Service& service : services) {
        const QString id = service.txt.value(u"did"_s);
        if (id.isEmpty() || id == ownId || id.size() > SyncDevice::maxIdLength ||
            service.addresses.isEmpty())
            continue;
        const SyncEndpoint endpoint{service.addresses.first(), service.port};
        rememberEndpoint(id, endpoint);
        if (const std::optional<SyncDevice> device = m_context.peerStore.peer(id))
            connectIfNeeded(*device, endpoint);
        else
            ++unpaired;
    }
    m_discoveredUnpaired = unpaired;
    Q_EMIT discoveredUnpairedChanged();
    Q_EMIT servicesHandled();
}

void LanLinkProvider::rememberEndpoint(const QString& id, const SyncEndpoint& endpoint) {
    if (!m_endpointsByPeer.contains(id) && m_endpointsByPeer.size() >= maxKnownEndpoints) {
        // A crowded network must not push out the devices we are paired with.
        if (!m_context.peerStore.peer(id))
            return;
        for (auto it = m_endpointsByPeer.begin(); it != m_endpointsByPeer.end(); ++it) {
            if (!m_context.peerStore.peer(it.key())) {
                m_endpointsByPeer.erase(it);
                break;
            }
        }
        if (m_endpointsByPeer.size() >= maxKnownEndpoints)
            return;
    }
    m_endpointsByPeer.insert(id, endpoint);
}

void LanLinkProvider::connectIfNeeded(const SyncDevice& device) {
    if (m_endpointsByPeer.contains(device.id))
        connectIfNeeded(device, m_endpointsByPeer.value(device.id));
}

void LanLinkProvider::connectIfNeeded(const SyncDevice& device, const SyncEndpoint& endpoint) {
    if (!m_context.running || !device.isEnabled() || m_connectedPeerIds.contains(device.id))
        return;
    const bool dialled = std::any_of(
        m_connections.cbegin(), m_connections.cend(), [&](const SyncConnection* connection) {
            return !connection->isClosed() && connection->peerId() == device.id;
        });
    if (dialled)
        return;
    const std::optional<QByteArray> key = m_context.sessionKey(device);
    if (!key)
        return;
    // Shows in sync.log where a LAN link stalls: finding the device or reaching it.
    SyncLog::write(u"dialling "_s + device.name + u" at "_s + endpoint.address.toString() + u":"_s +
                   QString::number(endpoint.port));
    auto* connection = new SyncConnection(endpoint, device.id, device.name, *key, this);
    connection->setLimits(m_options.connectionLimits);
    wire(connection);
    connection->start();
    connection->send(helloFor(device.id));
    // Whatever answers on that port without saying hello is not the device.
    QTimer::singleShot(m_options.helloTimeout, connection, [this, connection] {
        if (!m_greeted.contains(connection))
            connection->close();
    });
}

void LanLinkProvider::connectKnownEndpoints() {
    for (auto it = m_endpointsByPeer.cbegin(); it != m_endpointsByPeer.cend(); ++it)
        if (const std::optional<SyncDevice> device = m_context.peerStore.peer(it.key()))
            connectIfNeeded(*device, it.value());
}

void LanLinkProvider::closePeer(const QString& id) {
    for (SyncConnection* connection : std::as_const(m_connections))
        if (connection->peerId() == id)
            connection->close();
    if (m_connectedPeerIds.contains(id)) {
        QSet<QString> ids = m_connectedPeerIds;
        ids.remove(id);
        setConnected(std::move(ids));
    }
}

// --- pairing connections ---

SyncConnection* LanLinkProvider::dialPairing(const SyncEndpoint& endpoint,
                                             const std::optional<QString>& peerId,
                                             const QByteArray& key) {
    auto* connection = new SyncConnection(endpoint, {{std::nullopt, key}}, this);
    connection->setPeerId(peerId);
    connection->setPeerName(u"pairing"_s);
    connection->setBoundKey(key);
    connection->setPairing(true);
    connection->setLimits(m_options.connectionLimits);
    wire(connection);
    connection->start();
    // A device that holds the window answers at once; one that cannot open
    // our frame may still keep the socket open.
    QTimer::singleShot(m_options.helloTimeout, connection, [connection] { connection->close(); });
    return connection;
}

void LanLinkProvider::closePairing(SyncConnection::Role role) {
    for (SyncConnection* connection : std::as_const(m_connections))
        if (connection->isPairing() && connection->role() == role)
            connection->close();
}

int LanLinkProvider::pendingPairingDials() const {
    return int(std::count_if(
        m_connections.cbegin(), m_connections.cend(), [](const SyncConnection* connection) {
            return connection->isPairing() &&
                   connection->role() == SyncConnection::Role::outbound && !connection->isClosed();
        }));
}

// --- what arrives ---

void LanLinkProvider::handle(const SyncMessage& message, SyncConnection* connection) {
    if (connection->isClosed() || !m_connections.contains(connection))
        return;
    if (m_context.isOwnOrigin(message)) {
        SyncLog::write(u"dropped a message that claims to come from this device"_s);
        return;
    }
    if (connection->peerId() && !connection->peerName()) {
        if (const std::optional<SyncDevice> device =
                m_context.peerStore.peer(*connection->peerId()))
            connection->setPeerName(device->name);
    }
    // A pairing connection carries nothing but the pairing exchange, and
    // nothing else carries it.
    if (connection->isPairing()) {
        if (message.type == SyncMessageType::pair)
            Q_EMIT pairReceived(connection, message);
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
    case SyncMessageType::ping: // keep-alive only
    case SyncMessageType::pair: // only on pairing connections
        break;
    default:
        if (connection->peerId())
            Q_EMIT received(connection, message);
        break;
    }
}

void LanLinkProvider::handleHello(const SyncMessage& message, SyncConnection* connection) {
    if (!message.deviceId)
        return;
    const QString id = *message.deviceId;
    // The key already says who this is; a hello naming someone else is a lie.
    if (connection->peerId() != id) {
        SyncLog::write(u"hello names another device than the connection's key — ignored"_s);
        return;
    }
    const std::optional<SyncDevice> device = m_context.peerStore.peer(id);
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
    Q_EMIT linkUp(connection, std::get<SyncHello>(*syncPayloadOf(message)));
}

void LanLinkProvider::keepAlive() {
    for (SyncConnection* connection : std::as_const(m_connections))
        if (connection->peerId() && connection->boundKey() && !connection->isPairing())
            connection->send(SyncMessage::ping());
}

void LanLinkProvider::setConnected(QSet<QString> ids) {
    m_connectedPeerIds = std::move(ids);
    Q_EMIT connectedPeerIdsChanged();
}

void LanLinkProvider::setAdvertising(bool advertising) {
    m_isAdvertising = advertising;
    Q_EMIT isAdvertisingChanged();
}

void LanLinkProvider::setListenerPort(int port) {
    m_listenerPort = port;
    Q_EMIT listenerPortChanged();
}
