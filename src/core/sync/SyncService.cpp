#include "core/sync/SyncService.h"

#include "core/prefs/Preferences.h"
#include "core/sync/SyncIdentity.h"
#include "core/sync/SyncLog.h"
#include "core/sync/SyncPeerStore.h"
#include "core/sync/SyncProtocol.h"
#include "core/util/Overloaded.h"
#include "platform/Clock.h"

using namespace Qt::StringLiterals;

namespace {
// Every message but those that open a link or keep it alive.
bool isStamped(SyncMessageType type) {
    return type != SyncMessageType::hello && type != SyncMessageType::pair &&
           type != SyncMessageType::ping;
}
} // namespace

SyncService::SyncService(Preferences& prefs, SettingsStore& settings, const Clock& clock,
                         SyncIdentity& identity, ServiceDiscovery& discovery, Options options,
                         QObject* parent)
    : QObject(parent),
      m_peerStore(settings, clock), m_context{prefs, clock, identity, m_peerStore, false, {}, {}},
      m_options(std::move(options)), m_replayGuard(m_options.receivedClipsPath),
      m_lan(m_context, discovery, m_options), m_relays(m_context, m_options),
      m_pairing(m_context, m_lan, m_options),
      m_clips(m_context, m_peers, m_peerClock, m_replayGuard, m_options.outboxPath),
      m_pins(m_context, m_peers, m_peerClock), m_devices(m_context, m_peers, settings) {
    // Children, so that what they hold shows in the service's object tree;
    // as members they are gone (and unregistered) before the tree is.
    for (QObject* part : std::initializer_list<QObject*>{&m_lan, &m_relays, &m_pairing, &m_clips,
                                                         &m_pins, &m_devices})
        part->setParent(this);
    m_context.say = [this](const QString& event) { setLastEvent(event); };
    m_pins.snapshot = [this] { return pinsProvider ? pinsProvider() : PinsSnapshot{}; };
    m_lan.pairingKey = [this] { return m_pairing.key(); };
    m_lan.helloFor = [this](const QString& id) { return helloFor(id); };
    m_relays.stateFor = [this](const QString& id) { return stateFor(peer(id)); };

    connect(&m_context.prefs, &Preferences::syncEnabledChanged, this,
            [this, wasOn = m_context.prefs.syncEnabled()]() mutable {
                const bool on = m_context.prefs.syncEnabled();
                // Turned on by the user: what was copied while it was off
                // stays where it was copied.
                if (on && !wasOn)
                    m_clips.resume(std::nullopt);
                wasOn = on;
                if (on)
                    start();
                else if (m_context.running)
                    stop();
            });
    forwardSignals();
    wireLinks();
}

SyncService::~SyncService() = default;

void SyncService::forwardSignals() {
    connect(&m_lan, &LanLinkProvider::connectedPeerIdsChanged, this,
            &SyncService::connectedPeerIdsChanged);
    connect(&m_lan, &LanLinkProvider::discoveredUnpairedChanged, this,
            &SyncService::discoveredUnpairedChanged);
    connect(&m_lan, &LanLinkProvider::isAdvertisingChanged, this,
            &SyncService::isAdvertisingChanged);
    connect(&m_lan, &LanLinkProvider::listenerPortChanged, this, &SyncService::listenerPortChanged);
    connect(&m_relays, &RelayLinkProvider::connectedPeerIdsChanged, this,
            &SyncService::relayConnectedPeerIdsChanged);
    connect(&m_pairing, &Pairing::codeChanged, this, &SyncService::pairingCodeChanged);
    connect(&m_pairing, &Pairing::expiryChanged, this, &SyncService::pairingExpiryChanged);
    connect(&m_pairing, &Pairing::isPreparingChanged, this,
            &SyncService::isPreparingPairingChanged);
    connect(&m_pairing, &Pairing::joinFinished, this, &SyncService::joinFinished);
    connect(&m_pairing, &Pairing::joinEnded, this, &SyncService::joinEnded);
    connect(&m_pairing, &Pairing::joinRefused, this, &SyncService::joinRefused);
    connect(&m_pairing, &Pairing::paired, this, &SyncService::paired);
    connect(&m_clips, &ClipSync::remoteClipReceived, this, &SyncService::remoteClipReceived);
    connect(&m_clips, &ClipSync::remoteClipRecorded, this, &SyncService::remoteClipRecorded);
    connect(&m_pins, &PinSync::remotePinsReceived, this, &SyncService::remotePinsReceived);
    connect(&m_devices, &DeviceListSync::devicesChanged, this, &SyncService::peersChanged);
}

void SyncService::wireLinks() {
    connect(&m_lan, &LanLinkProvider::linkUp, this, &SyncService::directLinkUp);
    connect(&m_lan, &LanLinkProvider::linkDown, this, &SyncService::linkDown);
    connect(&m_lan, &LanLinkProvider::received, this, &SyncService::receive);
    connect(&m_lan, &LanLinkProvider::pairReceived, &m_pairing, &Pairing::receive);
    connect(&m_lan, &LanLinkProvider::pairingDialClosed, &m_pairing,
            &Pairing::reportUnansweredJoin);
    // A code typed before its host was found still reaches it.
    connect(&m_lan, &LanLinkProvider::servicesHandled, &m_pairing, &Pairing::dialNewlyFound);
    connect(&m_relays, &RelayLinkProvider::linkUp, this, &SyncService::relayLinkUp);
    connect(&m_relays, &RelayLinkProvider::linkDown, this, &SyncService::linkDown);
    connect(&m_relays, &RelayLinkProvider::received, this, &SyncService::receive);
    // The device has just come into the room and missed whatever we asked.
    connect(&m_relays, &RelayLinkProvider::pinged, this,
            [this](RelayLink* link) { m_clips.askForMissed(peer(link->remoteId())); });
    connect(&m_pairing, &Pairing::stored, this, [this](const SyncDevice& device) {
        Q_EMIT peersChanged();
        m_devices.allow(device.id);
    });
    connect(&m_pairing, &Pairing::settled, this, [this] {
        m_relays.update();
        m_devices.broadcast();
    });
    connect(&m_devices, &DeviceListSync::devicesAdded, this, &SyncService::devicesAdded);
}

// --- lifecycle ---

void SyncService::start() {
    const auto text = [](bool value) { return value ? u"true"_s : u"false"_s; };
    SyncLog::write(u"start() called — isRunning="_s + text(m_context.running) + u" syncEnabled="_s +
                   text(m_context.prefs.syncEnabled()));
    if (m_context.running || !m_context.prefs.syncEnabled()) {
        SyncLog::write(u"start() bailed out"_s);
        return;
    }
    setRunning(true);
    // Without a listener nobody can reach us: the start is undone and the
    // reason stays the last thing said.
    if (!m_lan.start()) {
        setRunning(false);
        return;
    }
    m_relays.restart();
    setLastEvent(u"Sync started as \u201c"_s + m_context.identity.deviceName() + u"\u201d"_s);
    m_lan.checkDiscovery();
}

void SyncService::stop() {
    setRunning(false);
    m_lan.stop();
    m_relays.stop();
    m_pairing.stop();
    m_clips.stop();
    m_peers.clear();
    setLastEvent(u"Sync stopped"_s);
}

// --- devices and their links ---

Peer& SyncService::peer(const QString& id) {
    std::shared_ptr<Peer>& peer = m_peers[id];
    if (!peer)
        peer = std::make_shared<Peer>(id);
    return *peer;
}

SyncMessage SyncService::helloFor(const QString& deviceId) const {
    const SyncIdentity& identity = m_context.identity;
    const std::optional<SyncDevice> device = m_peerStore.peer(deviceId);
    if (device && device->protocol && *device->protocol < SyncProtocol::version)
        return SyncMessage::hello(identity.deviceId(), identity.deviceName());
    return SyncMessage::hello(identity.deviceId(), identity.deviceName(),
                              SyncProtocol::capabilities());
}

SyncMessage SyncService::answerTo(const SyncHello& hello) const {
    const SyncIdentity& identity = m_context.identity;
    if (!hello.capabilities || hello.protocol < SyncProtocol::version)
        return SyncMessage::hello(identity.deviceId(), identity.deviceName());
    return SyncMessage::hello(identity.deviceId(), identity.deviceName(),
                              SyncProtocol::capabilities());
}

// What a hello says the device speaks, for this run and for links that
// carry no hello of their own.
void SyncService::learnSpeaks(Peer& device, const SyncHello& hello) {
    QStringList named;
    if (hello.protocol >= SyncProtocol::version && hello.capabilities)
        for (const QString& name : *hello.capabilities)
            if (named.size() < SyncDevice::maxCapabilities)
                named.append(name.left(SyncDevice::maxCapabilityLength));
    QStringList common;
    for (const QString& name : SyncProtocol::capabilities())
        if (named.contains(name))
            common.append(name);
    device.setProtocol(hello.protocol);
    device.setCapabilities(common);
    m_peerStore.setSpeaks(device.id(), hello.protocol, named);
}

void SyncService::contact(Peer& device, const PeerLink* link) {
    // The first way back to it: what it may have missed of ours began when
    // we last saw it.
    if (!device.isReachableWithout(link))
        if (const std::optional<SyncDevice> record = m_peerStore.peer(device.id()))
            device.setLastSeenBefore(record->lastSeen);
    m_peerStore.touch(device.id());
    Q_EMIT peersChanged();
}

void SyncService::directLinkUp(SyncConnection* connection, const SyncHello& hello) {
    const QString id = *connection->peerId();
    Peer& device = peer(id);
    contact(device, connection);
    device.attach(connection);
    stampMessagesOf(*connection);
    m_relays.resetBackoff(id);
    learnSpeaks(device, hello);
    if (connection->role() == SyncConnection::Role::inbound)
        connection->send(answerTo(hello));
    for (const SyncMessage& message : stateFor(device))
        connection->send(message);
    m_clips.askForMissed(device);
}

void SyncService::relayLinkUp(RelayLink* link) {
    Peer& device = peer(link->peerId());
    contact(device, link);
    device.attach(link);
    stampMessagesOf(*link);
    const std::optional<SyncDevice> record = m_peerStore.peer(device.id());
    if (!device.protocol() && record) {
        // No hello has come over the network this run: go by what the device
        // said last time.
        learnSpeaks(device, SyncHello{device.id(), std::nullopt,
                                      record->protocol.value_or(SyncProtocol::baseVersion),
                                      record->capabilities});
    }
    // Only to a device known to speak it: the relay room of a protocol-3
    // device sees exactly what it always has.
    if (device.speaks(SyncProtocol::version))
        link->send(helloFor(device.id()));
    m_clips.askForMissed(device);
}

void SyncService::linkDown(PeerLink* link) {
    const std::shared_ptr<Peer> device = m_peers.value(link->remoteId());
    if (!device)
        return;
    if (link->kind() == PeerLink::Kind::direct)
        device->detach(link);
    m_peerStore.touch(device->id());
    Q_EMIT peersChanged();
    // What went out over a link that had already failed never arrived.
    if (device->isReachableWithout(link))
        m_clips.askForMissed(*device);
}

QList<SyncMessage> SyncService::stateFor(const Peer& peer) const {
    QList<SyncMessage> state;
    if (!peer.speaks(2))
        return state;
    if (const std::optional<SyncMessage> list = m_devices.message(peer.id()))
        state.append(*list);
    if (!peer.speaks(3))
        return state;
    if (const std::optional<SyncMessage> pins = m_pins.message())
        state.append(*pins);
    return state;
}

// One path for what arrives, whichever link it came by; each part gets the
// messages of its own types.
void SyncService::receive(PeerLink* link, const SyncMessage& message) {
    const QString id = link->remoteId();
    const std::optional<SyncPayload> payload = syncPayloadOf(message);
    if (id.isEmpty() || !payload)
        return;
    Peer& from = peer(id);
    if (!isInSequence(from, *link, message))
        return;
    const bool catchesUp = from.can(QString::fromLatin1(SyncProtocol::catchUp));
    std::visit(Overloaded{
                   [&](const SyncClip& clip) { m_clips.receive(from, *link, clip); },
                   [&](const SyncPinSnapshot& pins) { m_pins.receive(from, pins); },
                   [&](const SyncRoster& list) { m_devices.receive(from, list); },
                   [&](const SyncCatchUp& request) {
                       if (catchesUp)
                           m_clips.answer(from, request);
                   },
                   [&](const SyncClipBatch& part) {
                       if (catchesUp)
                           m_clips.receiveMissed(from, part);
                   },
                   [&](const SyncHello& hello) {
                       // The relay's hello: a direct one is the network's
                       // handshake, dealt with before this.
                       if (link->kind() == PeerLink::Kind::relay && hello.deviceId == id)
                           learnSpeaks(from, hello);
                   },
                   // Nothing waits for an ack; pings keep links alive; a
                   // pair belongs to pairing links alone.
                   [](const SyncAck&) {},
                   [](const SyncPing&) {},
                   [](const SyncPair&) {},
               },
               *payload);
}

void SyncService::stampMessagesOf(PeerLink& link) {
    link.setStamp([this, id = link.remoteId(), kind = link.kind()](SyncMessage& message) {
        // Only to a device that named the guard too.
        const std::shared_ptr<Peer> device = m_peers.value(id);
        if (device && device->can(QString::fromLatin1(SyncProtocol::replayGuard)) &&
            isStamped(message.type))
            m_replayGuard.stamp(message, id, kind, m_context.clock.now().unix());
    });
}

// Checked whatever the device said in this run's hello: a hello from before
// it stamped, played back, must not turn the check off.
bool SyncService::isInSequence(const Peer& from, const PeerLink& link, const SyncMessage& message) {
    if (!isStamped(message.type) ||
        m_replayGuard.admitStamp(message, from.id(), link.kind(), m_context.identity.deviceId(),
                                 m_context.clock.now().unix()))
        return true;
    const std::optional<SyncDevice> device = m_peerStore.peer(from.id());
    SyncLog::write(u"a "_s + QString(syncMessageTypeName(message.type)) + u" message from "_s +
                   (device ? device->name : u"a device"_s) + u" on the "_s +
                   PeerLink::nameOf(link.kind()) +
                   u" link did not carry a newer stamp — refused as played back"_s);
    return false;
}

void SyncService::devicesAdded() {
    m_relays.update();
    m_lan.connectKnownEndpoints();
    m_devices.broadcast();
}

// --- one device ---

void SyncService::closePeer(const QString& id) {
    m_lan.closePeer(id);
    m_relays.closePeer(id);
    m_peers.remove(id);
}

void SyncService::setEnabled(bool enabled, const SyncDevice& device) {
    m_peerStore.setEnabled(enabled, device.id);
    Q_EMIT peersChanged();
    if (enabled) {
        m_clips.resume(device.id);
        m_relays.update();
        if (const std::optional<SyncDevice> stored = m_peerStore.peer(device.id))
            m_lan.connectIfNeeded(*stored);
        setLastEvent(u"Resumed syncing with "_s + device.name);
    } else {
        closePeer(device.id);
        setLastEvent(u"Paused syncing with "_s + device.name);
    }
}

void SyncService::unpair(const SyncDevice& device) {
    m_peerStore.remove(device.id);
    Q_EMIT peersChanged();
    // Another device's list must not bring it back behind the user's back.
    m_devices.forget(device.id);
    m_replayGuard.forgetStamps(device.id);
    closePeer(device.id);
    setLastEvent(u"Unpaired "_s + device.name);
}

void SyncService::setRunning(bool running) {
    m_context.running = running;
    Q_EMIT isRunningChanged();
}

void SyncService::setLastEvent(const QString& event) {
    m_context.lastEvent = event;
    SyncLog::write(event);
    Q_EMIT lastEventChanged();
}
