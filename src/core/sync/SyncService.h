#pragma once

#include "core/sync/PairingLink.h"
#include "core/sync/PeerClockGuard.h"
#include "core/sync/RelayLink.h"
#include "core/sync/RelayStateGate.h"
#include "core/sync/ReplayGuard.h"
#include "core/sync/SyncConnection.h"
#include "core/sync/SyncDevice.h"
#include "core/sync/SyncEndpoint.h"
#include "core/sync/SyncMessage.h"
#include "core/sync/SyncPeerStore.h"
#include "platform/ServiceDiscovery.h"

#include <QDateTime>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

class Clip;
class Clock;
class Preferences;
class QTcpServer;
class SettingsStore;
class SyncIdentity;

// Drives sync: publishes this device on the local network, follows the
// devices others publish, accepts and dials direct connections to paired
// devices, keeps one relay link per paired device when the relay is on, and
// moves clips, pin snapshots and device lists between them. Main thread
// only; every network event reaches it as a queued event of its own.
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
    using PinsSnapshot = std::pair<QList<SyncPinPayload>, QList<SyncUnpinPayload>>;

    // The port we listen on when it is free, so that a firewall rule can
    // name it; any free port otherwise (peers learn it through DNS-SD).
    static constexpr quint16 preferredPort = 51785;
    static constexpr qsizetype recentHashLimit = 200;
    static constexpr qsizetype maxKnownEndpoints = 256;
    static constexpr qsizetype maxUnboundInbound = 16;
    static constexpr qsizetype maxUnboundPerAddress = 4;
    static constexpr qsizetype maxRosterEntries = 64;
    static constexpr qsizetype maxUnpairedIds = 256;
    // What device lists may add: a few per message and per peer, and only
    // while well under the store's own bound.
    static constexpr qsizetype maxRosterAddsPerMessage = 4;
    static constexpr qsizetype maxRosterAddsPerPeer = 8;
    static constexpr qsizetype maxRosterDevices = 32;
    // The relay we ship lets one address hold 32 connections (its
    // --per-address default); the pairing window and a pasted link's join
    // each take one more, so the links to devices stop two short of it.
    // Devices past these sync over the local network only.
    static constexpr qsizetype maxRelayLinks = 30;
    static constexpr qsizetype maxRefusalLength = 200;

    struct Options {
        QHostAddress listenAddress = QHostAddress::Any;
        quint16 port = preferredPort;
        std::chrono::milliseconds keepAlive{25'000};
        // An outbound connection that gets no hello back in this time is dead.
        std::chrono::milliseconds helloTimeout{15'000};
        SyncConnection::Limits connectionLimits;
        RelayLink::Timing relayTiming;
        // Where the memory of received clips survives a restart; empty keeps
        // it for this run only.
        QString receivedClipsPath;
    };

    SyncService(Preferences& prefs, SettingsStore& settings, const Clock& clock,
                SyncIdentity& identity, ServiceDiscovery& discovery, Options options,
                QObject* parent = nullptr);
    SyncService(Preferences& prefs, SettingsStore& settings, const Clock& clock,
                SyncIdentity& identity, ServiceDiscovery& discovery, QObject* parent = nullptr)
        : SyncService(prefs, settings, clock, identity, discovery, Options{}, parent) {}
    ~SyncService() override;

    bool isRunning() const { return m_isRunning; }
    // Ids of devices that said hello over a live direct connection, sorted.
    QStringList connectedPeerIds() const;
    QStringList relayConnectedPeerIds() const;
    int discoveredUnpaired() const { return m_discoveredUnpaired; }
    // Empty while no pairing window is open.
    QString pairingCode() const { return m_pairingCode; }
    QDateTime pairingExpiry() const { return m_pairingExpiry; }
    // A window was asked for and its key is still being derived.
    bool isPreparingPairing() const { return m_preparingPairing; }
    QString lastEvent() const { return m_lastEvent; }
    bool isAdvertising() const { return m_isAdvertising; }
    // 0 until the listener has a port.
    int listenerPort() const { return m_listenerPort; }
    // The IPv4 addresses other devices reach the listener at: the one it is
    // bound to, or every address of this machine when it listens on all.
    QStringList listenAddresses() const;
    QList<SyncDevice> peers() const { return m_peerStore.peers(); }
    // Hashes of clips sent or received lately, oldest first.
    const QList<QString>& recentHashes() const { return m_recentHashes; }
    // Ids the user unpaired; device lists do not bring them back.
    QStringList unpairedIds() const { return m_unpairedIds; }

    void start();
    void stop();
    // Pauses or resumes syncing with one paired device.
    void setEnabled(bool enabled, const SyncDevice& device);
    void unpair(const SyncDevice& device);
    // Rebuilds every relay link from the settings.
    void startRelayLinks();

    // Opens a pairing window with a fresh code for `duration`; a second call
    // replaces the open one. The window's key is derived on a worker thread,
    // so the code is published (pairingCodeChanged) only once the window can
    // accept a joiner; endPairing() or stop() before then cancels it.
    void startPairing(std::chrono::seconds duration);
    void endPairing();
    // Asks the device that shows this code to pair: every unpaired device we
    // have seen on the network, or, for a pasted pairing link, the addresses
    // the link names; and the code's room on the relay the link names, or on
    // our own relay when one is set. The first answer pairs and ends the
    // other requests. They go out once the code's key is derived on a
    // worker thread; a stop() before then drops them.
    void joinPairing(const QString& codeOrLink);
    // Requests of ours still waiting for an answer: open pairing dials and
    // the relay room of the join.
    int pendingJoins() const;
    // The link a phone or a pasted join reaches this window by; nothing while
    // no window is open or the listener has no port.
    std::optional<QString> pairingURL() const;

    // A local copy; sent to every connected device unless sending is off or
    // the same text went out or came in lately.
    void broadcast(const Clip& clip);
    // The local pins changed, or a snapshot from `excluding` changed them.
    void broadcastPins(const std::optional<QString>& excluding = std::nullopt);

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
    // Another device's pin snapshot; fromPeer is where it came from, so a
    // change it causes is not sent back there.
    void remotePinsReceived(const QList<SyncPinPayload>& pins,
                            const QList<SyncUnpinPayload>& unpinned,
                            const std::optional<QString>& fromPeer);

private:
    bool startListener();
    void stopListener();
    void publish();
    void acceptPending();
    QList<SyncConnection::CandidateKey> candidateKeys() const;
    void wire(SyncConnection* connection);
    void connectionClosed(SyncConnection* connection);
    void handleServices(const QList<ServiceDiscovery::Service>& services);
    void rememberEndpoint(const QString& id, const SyncEndpoint& endpoint);
    void connectIfNeeded(const SyncDevice& device, const SyncEndpoint& endpoint);
    void connectKnownEndpoints();
    void handle(const SyncMessage& message, SyncConnection* connection);
    void handleHello(const SyncMessage& message, SyncConnection* connection);
    void openPairing(const QString& code, const QByteArray& key, std::chrono::seconds duration);
    void setPreparingPairing(bool preparing);
    void sendPairingRequests(const QByteArray& key,
                             const std::optional<PairingLink::Target>& target);
    void finishJoin(const QString& outcome, bool sent);
    void startPairingRelay();
    int dialUnpaired(const QByteArray& key);
    void joinOverRelay(const QString& relayURL, const QByteArray& key);
    void dropJoinRelay(bool afterSending);
    void dialPairing(const SyncEndpoint& endpoint, const std::optional<QString>& peerId,
                     const QByteArray& key);
    void endJoin(const SyncDevice& device);
    void reportUnansweredJoin();
    void handlePair(const SyncMessage& message, SyncConnection* connection);
    std::optional<SyncDevice> acceptPair(const SyncMessage& message,
                                         const std::function<void(const SyncMessage&)>& reply);
    void unregister(SyncConnection* connection);
    void handleClip(const SyncMessage& message, SyncConnection* connection);
    bool admitClip(const SyncMessage& message, const QString& peerId, const QString& peerName);
    void stopRelayLinks();
    // Opens the links that are missing and closes those no longer wanted,
    // keeping the rest.
    void updateRelayLinks();
    void handleRelay(const SyncMessage& message, RelayLink* link);
    void relayConnectedChanged(RelayLink* link, bool connected);
    void sendRelayState(RelayLink* link);
    void answerRelayPing(RelayLink* link);
    void closePeer(const QString& id);
    void broadcastRaw(const SyncMessage& message);
    QList<SyncDevicePayload> rosterEntries(const std::optional<QString>& excluding) const;
    std::optional<SyncMessage> rosterMessage(const QString& peerId) const;
    void broadcastRosterOverLAN();
    std::optional<SyncMessage> pinsMessage() const;
    void remember(const QString& hash);
    void handlePins(const SyncMessage& message, const QString& fromPeer);
    void mergeRoster(const QList<SyncDevicePayload>& entries, const QString& sourceId,
                     const QString& sourceName);
    bool isOwnOrigin(const SyncMessage& message) const;
    std::optional<QByteArray> sessionKey(const SyncDevice& device) const;
    void loadUnpairedIds();
    void saveUnpairedIds();

    void setRunning(bool running);
    void setConnected(QSet<QString> ids);
    void setRelayConnected(QSet<QString> ids);
    void setDiscoveredUnpaired(int count);
    void setLastEvent(const QString& event);
    void setAdvertising(bool advertising);
    void setListenerPort(int port);
    void republishPeers();

    Preferences& m_prefs;
    SettingsStore& m_settings;
    const Clock& m_clock;
    SyncIdentity& m_identity;
    ServiceDiscovery& m_discovery;
    Options m_options;
    SyncPeerStore m_peerStore;

    bool m_isRunning = false;
    QSet<QString> m_connectedPeerIds;
    QSet<QString> m_relayConnectedPeerIds;
    int m_discoveredUnpaired = 0;
    QString m_pairingCode;
    QDateTime m_pairingExpiry;
    QString m_lastEvent;
    bool m_isAdvertising = false;
    int m_listenerPort = 0;
    // Tells a stale queued event (from before a stop) from a current one.
    quint64 m_runGeneration = 0;
    bool m_discoveryWasAvailable = true;

    QTcpServer* m_listener = nullptr;
    QList<SyncConnection*> m_connections;
    // Connections over which the peer has said hello.
    QSet<SyncConnection*> m_greeted;
    QHash<QString, SyncEndpoint> m_endpointsByPeer;
    QHash<QString, qint64> m_peerProtocols;
    QHash<QString, RelayLink*> m_relayLinks;
    RelayStateGate m_relayStateGate;
    // New devices each peer's lists have added since we started.
    QHash<QString, qsizetype> m_rosterAddsByPeer;
    // Derived once per window: every inbound connection tries it.
    QByteArray m_pairingKey;
    QTimer m_pairingTimer;
    // Raised by every start and end of a window, so that a key derived for a
    // window that was cancelled or replaced meanwhile is thrown away.
    quint64 m_pairingAttempt = 0;
    bool m_preparingPairing = false;
    RelayLink* m_pairingRelayLink = nullptr;
    // The join's relay room, waited on until the host answers.
    RelayLink* m_joinRelayLink = nullptr;
    // The join whose requests are out, until it pairs or nobody answers.
    struct Join {
        bool active = false;
        // A typed code: devices found while it waits are asked too.
        QByteArray codeKey;
        QSet<QString> dialled;
        bool triedNetwork = false;
        bool triedRelay = false;
        bool reachedRelay = false;
    };
    Join m_join;
    QTimer m_keepAliveTimer;
    QList<QString> m_recentHashes;
    QStringList m_unpairedIds;
    std::unique_ptr<ReplayGuard> m_replayGuard;
    PeerClockGuard m_peerClock;
};
