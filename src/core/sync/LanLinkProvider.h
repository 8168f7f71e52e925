#pragma once

#include "core/sync/SyncConnection.h"
#include "core/sync/SyncContext.h"
#include "core/sync/SyncEndpoint.h"
#include "core/sync/SyncOptions.h"
#include "core/sync/SyncPayload.h"
#include "platform/ServiceDiscovery.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <optional>

class QTcpServer;

// The local network: publishes this device over DNS-SD, follows the devices
// others publish, accepts and dials direct connections, and hands over each
// connection to a paired device once it has said hello. Pairing connections
// carry only the pairing exchange and go to whoever pairs.
//
// Unknown callers are hostile until their first frame opens with a paired
// key: they get little time, small frames and a fixed number of slots.
class LanLinkProvider : public QObject {
    Q_OBJECT
public:
    static constexpr qsizetype maxKnownEndpoints = 256;
    static constexpr qsizetype maxUnboundInbound = 16;
    static constexpr qsizetype maxUnboundPerAddress = 4;

    LanLinkProvider(SyncContext& context, ServiceDiscovery& discovery, const SyncOptions& options,
                    QObject* parent = nullptr);
    ~LanLinkProvider() override;

    // The open pairing window's key, tried last on every inbound connection;
    // empty while none is open.
    std::function<QByteArray()> pairingKey;
    // The hello we send a device: what we speak, as far as we know it speaks.
    std::function<SyncMessage(const QString& deviceId)> helloFor;

    // False (and the reason said) when nothing can listen.
    bool start();
    // Says so when avahi-daemon is missing; once the start has been told.
    void checkDiscovery();
    void stop();

    QStringList connectedPeerIds() const;
    int discoveredUnpaired() const { return m_discoveredUnpaired; }
    bool isAdvertising() const { return m_isAdvertising; }
    int listenerPort() const { return m_listenerPort; }
    QStringList listenAddresses() const;
    const QHash<QString, SyncEndpoint>& endpoints() const { return m_endpointsByPeer; }
    void rememberEndpoint(const QString& id, const SyncEndpoint& endpoint);

    // Dials a paired device at its last known address, unless a connection
    // to it is open or on its way.
    void connectIfNeeded(const SyncDevice& device);
    void connectKnownEndpoints();
    // Ends every connection to one device.
    void closePeer(const QString& id);

    // An outbound pairing request; peerId names the device when known.
    SyncConnection* dialPairing(const SyncEndpoint& endpoint, const std::optional<QString>& peerId,
                                const QByteArray& key);
    void closePairing(SyncConnection::Role role);
    int pendingPairingDials() const;
    // Lets a finished pairing connection close without reporting to us, so
    // that the device it paired can be dialled at once.
    void release(SyncConnection* connection);

Q_SIGNALS:
    // A paired device said hello on this connection (and was answered).
    void linkUp(SyncConnection* connection, const SyncHello& hello);
    // A connection that had said hello closed.
    void linkDown(SyncConnection* connection);
    // Any other message from a device that has said hello.
    void received(PeerLink* link, const SyncMessage& message);
    void pairReceived(SyncConnection* connection, const SyncMessage& message);
    // One of our pairing requests ended without an answer.
    void pairingDialClosed();
    // A new browse result was handled.
    void servicesHandled();
    void connectedPeerIdsChanged();
    void discoveredUnpairedChanged();
    void isAdvertisingChanged();
    void listenerPortChanged();

private:
    QByteArray openPairingKey() const { return pairingKey ? pairingKey() : QByteArray(); }
    void publish();
    void acceptPending();
    QList<SyncConnection::CandidateKey> candidateKeys() const;
    void wire(SyncConnection* connection);
    void connectionClosed(SyncConnection* connection);
    void handleServices(const QList<ServiceDiscovery::Service>& services);
    void connectIfNeeded(const SyncDevice& device, const SyncEndpoint& endpoint);
    void handle(const SyncMessage& message, SyncConnection* connection);
    void handleHello(const SyncMessage& message, SyncConnection* connection);
    void keepAlive();
    void setConnected(QSet<QString> ids);
    void setAdvertising(bool advertising);
    void setListenerPort(int port);

    SyncContext& m_context;
    ServiceDiscovery& m_discovery;
    const SyncOptions& m_options;

    QTcpServer* m_listener = nullptr;
    QList<SyncConnection*> m_connections;
    // Connections over which the peer has said hello.
    QSet<SyncConnection*> m_greeted;
    QSet<QString> m_connectedPeerIds;
    QHash<QString, SyncEndpoint> m_endpointsByPeer;
    int m_discoveredUnpaired = 0;
    bool m_isAdvertising = false;
    int m_listenerPort = 0;
    // Tells a stale queued event (from before a stop) from a current one.
    quint64 m_generation = 0;
    bool m_discoveryWasAvailable = true;
    QTimer m_keepAliveTimer;
};
