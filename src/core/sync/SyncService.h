#pragma once

#include "core/sync/ClipSync.h"
#include "core/sync/DeviceListSync.h"
#include "core/sync/LanLinkProvider.h"
#include "core/sync/Pairing.h"
#include "core/sync/Peer.h"
#include "core/sync/PeerClockGuard.h"
#include "core/sync/PinSync.h"
#include "core/sync/RelayLinkProvider.h"
#include "core/sync/ReplayGuard.h"
#include "core/sync/SyncContext.h"
#include "core/sync/SyncDevice.h"
#include "core/sync/SyncOptions.h"
#include "core/sync/SyncPeerStore.h"
#include "platform/ServiceDiscovery.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>
#include <optional>

class Clip;
class Clock;
class Preferences;
class SettingsStore;
class SyncIdentity;

// Drives sync: starts the ways of reaching other devices (the local network
// and the relay), keeps one Peer per paired device with the links that reach
// it, and hands each message that arrives to the part that owns its type:
// clips, pins, device lists, pairing. Main thread only; every network event
// reaches it as a queued event of its own.
//
// Everything that arrives is hostile until it opens with a paired key, and
// stays bounded after: unknown callers get little time, small frames and a
// fixed number of slots; a peer can never make us store or dial our own id.
class SyncService : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isRunning READ isRunning NOTIFY isRunningChanged)
    Q_PROPERTY(QStringList connectedPeerIds READ connectedPeerIds NOTIFY connectedPeerIdsChanged)
    Q_PROPERTY(QStringList relayConnectedPeerIds READ relayConnectedPeerIds NOTIFY
                   relayConnectedPeerIdsChanged)
    Q_PROPERTY(int discoveredUnpaired READ discoveredUnpaired NOTIFY discoveredUnpairedChanged)
    Q_PROPERTY(QString pairingCode READ pairingCode NOTIFY pairingCodeChanged)
    Q_PROPERTY(QDateTime pairingExpiry READ pairingExpiry NOTIFY pairingExpiryChanged)
    Q_PROPERTY(bool isPreparingPairing READ isPreparingPairing NOTIFY isPreparingPairingChanged)
    Q_PROPERTY(QString lastEvent READ lastEvent NOTIFY lastEventChanged)
    Q_PROPERTY(bool isAdvertising READ isAdvertising NOTIFY isAdvertisingChanged)
    Q_PROPERTY(int listenerPort READ listenerPort NOTIFY listenerPortChanged)
    Q_PROPERTY(QList<SyncDevice> peers READ peers NOTIFY peersChanged)

public:
    using PinsSnapshot = PinSync::Snapshot;
    using Options = SyncOptions;

    static constexpr quint16 preferredPort = SyncOptions::preferredPort;
    static constexpr qsizetype recentHashLimit = ClipSync::recentHashLimit;
    static constexpr qsizetype maxUnboundInbound = LanLinkProvider::maxUnboundInbound;
    static constexpr qsizetype maxUnboundPerAddress = LanLinkProvider::maxUnboundPerAddress;
    static constexpr qsizetype maxRosterAddsPerMessage = DeviceListSync::maxRosterAddsPerMessage;
    static constexpr qsizetype maxRosterAddsPerPeer = DeviceListSync::maxRosterAddsPerPeer;
    static constexpr qsizetype maxRosterDevices = DeviceListSync::maxRosterDevices;
    static constexpr qsizetype maxRelayLinks = RelayLinkProvider::maxRelayLinks;

    SyncService(Preferences& prefs, SettingsStore& settings, const Clock& clock,
                SyncIdentity& identity, ServiceDiscovery& discovery, Options options,
                QObject* parent = nullptr);
    SyncService(Preferences& prefs, SettingsStore& settings, const Clock& clock,
                SyncIdentity& identity, ServiceDiscovery& discovery, QObject* parent = nullptr)
        : SyncService(prefs, settings, clock, identity, discovery, Options{}, parent) {}
    ~SyncService() override;

    bool isRunning() const { return m_context.running; }
    // Ids of devices that said hello over a live direct connection, sorted.
    QStringList connectedPeerIds() const { return m_lan.connectedPeerIds(); }
    QStringList relayConnectedPeerIds() const { return m_relays.connectedPeerIds(); }
    int discoveredUnpaired() const { return m_lan.discoveredUnpaired(); }
    // Empty while no pairing window is open.
    QString pairingCode() const { return m_pairing.code(); }
    QDateTime pairingExpiry() const { return m_pairing.expiry(); }
    // A window was asked for and its key is still being derived.
    bool isPreparingPairing() const { return m_pairing.isPreparing(); }
    QString lastEvent() const { return m_context.lastEvent; }
    bool isAdvertising() const { return m_lan.isAdvertising(); }
    // 0 until the listener has a port.
    int listenerPort() const { return m_lan.listenerPort(); }
    // The IPv4 addresses other devices reach the listener at: the one it is
    // bound to, or every address of this machine when it listens on all.
    QStringList listenAddresses() const { return m_lan.listenAddresses(); }
    QList<SyncDevice> peers() const { return m_peerStore.peers(); }
    // Hashes of clips sent or received lately, oldest first.
    const QList<QString>& recentHashes() const { return m_clips.recentHashes(); }
    // Ids the user unpaired; device lists do not bring them back.
    QStringList unpairedIds() const { return m_devices.unpairedIds(); }

    void start();
    void stop();
    // Pauses or resumes syncing with one paired device.
    void setEnabled(bool enabled, const SyncDevice& device);
    void unpair(const SyncDevice& device);
    // Rebuilds every relay link from the settings.
    void startRelayLinks() { m_relays.restart(); }

    // Opens a pairing window with a fresh code for `duration`; a second call
    // replaces the open one. The window's key is derived on a worker thread,
    // so the code is published (pairingCodeChanged) only once the window can
    // accept a joiner; endPairing() or stop() before then cancels it.
    void startPairing(std::chrono::seconds duration) { m_pairing.start(duration); }
    void endPairing() { m_pairing.end(); }
    // Asks the device that shows this code to pair: every unpaired device we
    // have seen on the network, or, for a pasted pairing link, the addresses
    // the link names; and the code's room on the relay the link names, or on
    // our own relay when one is set. The first answer pairs and ends the
    // other requests. They go out once the code's key is derived on a
    // worker thread; a stop() before then drops them.
    void joinPairing(const QString& codeOrLink) { m_pairing.join(codeOrLink); }
    // Requests of ours still waiting for an answer: open pairing dials and
    // the relay room of the join.
    int pendingJoins() const { return m_pairing.pendingJoins(); }
    // The link a pasted join reaches this window by; nothing while
    // no window is open or the listener has no port.
    std::optional<QString> pairingURL() const { return m_pairing.url(); }

    // A local copy; sent to every connected device unless sending is off or
    // the same text went out or came in lately.
    void broadcast(const Clip& clip) { m_clips.broadcast(clip); }
    // The local pins changed, or a snapshot from `excluding` changed them.
    void broadcastPins(const std::optional<QString>& excluding = std::nullopt) {
        m_pins.broadcast(excluding);
    }

    // The local pin snapshot, asked for whenever one is to be sent.
    std::function<PinsSnapshot()> pinsProvider;

Q_SIGNALS:
    void isRunningChanged();
    void connectedPeerIdsChanged();
    void relayConnectedPeerIdsChanged();
    void discoveredUnpairedChanged();
    void pairingCodeChanged();
    void pairingExpiryChanged();
    void isPreparingPairingChanged();
    // What came of a joinPairing call: the line it also set as lastEvent,
    // and whether any request went out.
    void joinFinished(const QString& outcome, bool sent);
    // What came of the requests a joinFinished(…, true) announced: the
    // pairing, or (after a join that also tried the relay) that nobody
    // answered. Also set as lastEvent.
    void joinEnded(const QString& outcome, bool paired);
    // The device we asked answered that it cannot pair, and why.
    void joinRefused(const QString& outcome);
    void lastEventChanged();
    void isAdvertisingChanged();
    void listenerPortChanged();
    void peersChanged();
    // A device was stored by pairing, here as host or as joiner.
    void paired(const SyncDevice& device);

    // A clip from another device, to become the clipboard's content.
    void remoteClipReceived(const QString& text, const QString& senderName);
    // A clip another device copied while we could not be reached, for the
    // history only (unless the history holds that text already).
    void remoteClipRecorded(const QString& text, const QString& senderName);
    // Another device's pin snapshot; fromPeer is where it came from, so a
    // change it causes is not sent back there.
    void remotePinsReceived(const QList<SyncPinPayload>& pins,
                            const QList<SyncUnpinPayload>& unpinned,
                            const std::optional<QString>& fromPeer);

private:
    void forwardSignals();
    void wireLinks();
    Peer& peer(const QString& id);
    void directLinkUp(SyncConnection* connection, const SyncHello& hello);
    void relayLinkUp(RelayLink* link);
    void linkDown(PeerLink* link);
    // A link to the device came up.
    void contact(Peer& peer, const PeerLink* link);
    void learnSpeaks(Peer& peer, const SyncHello& hello);
    QList<SyncMessage> stateFor(const Peer& peer) const;
    // What we speak, to a device as far as we know what it speaks: a device
    // that said it speaks protocol 3 alone hears nothing newer.
    SyncMessage helloFor(const QString& deviceId) const;
    SyncMessage answerTo(const SyncHello& hello) const;
    void receive(PeerLink* link, const SyncMessage& message);
    void stampMessagesOf(PeerLink& link);
    bool isInSequence(const Peer& from, const PeerLink& link, const SyncMessage& message);
    void devicesAdded();
    void closePeer(const QString& id);
    void setRunning(bool running);
    void setLastEvent(const QString& event);

    SyncPeerStore m_peerStore;
    SyncContext m_context;
    Options m_options;
    PeerClockGuard m_peerClock;
    Peers m_peers;
    // Before the links, which stamp with it until they are gone.
    ReplayGuard m_replayGuard;
    LanLinkProvider m_lan;
    RelayLinkProvider m_relays;
    Pairing m_pairing;
    ClipSync m_clips;
    PinSync m_pins;
    DeviceListSync m_devices;
};
