#pragma once

#include "core/sync/PeerLink.h"
#include "core/sync/SyncEndpoint.h"
#include "core/sync/SyncMessage.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>
#include <optional>

class QTcpSocket;

// One TCP connection to another device. Frames are a 4-byte big-endian length
// followed by one sealed message. An outbound connection knows its key; an
// inbound one tries its candidate keys on the first frame and binds to the
// first that opens it, which is how paired devices and a pairing device are
// told apart without any clear-text handshake.
//
// Everything runs on the thread that owns the object (the main thread);
// messages and the close are still handed to the owner as separate queued
// events, in arrival order, so the owner never re-enters itself.
class SyncConnection : public PeerLink {
    Q_OBJECT
public:
    enum class Role { inbound, outbound };

    struct CandidateKey {
        std::optional<QString> peerId; // none: a pairing key
        QByteArray key;
    };

    struct Limits {
        std::chrono::milliseconds connectTimeout{5000};
        // Until a key is bound, the caller is unknown: it gets a small first
        // frame and a short time to send it.
        std::chrono::milliseconds unboundTimeout{10'000};
        qint64 maxUnboundFrameBytes = 64 * 1024;
        // More than this waiting to be sent means the peer stopped reading.
        qint64 maxPendingSendBytes = 8 * 1024 * 1024;
        // A graceful close waits this long for the peer to take the rest.
        std::chrono::milliseconds closeLinger{30'000};
    };

    // Wraps an accepted (already connected) socket and takes it over.
    SyncConnection(QTcpSocket* socket, Role role, QList<CandidateKey> candidateKeys,
                   QObject* parent = nullptr);
    // Outbound to an endpoint, opening frames with the candidates (a pairing
    // dial passes its one pairing key, then sets the bound key and peer).
    SyncConnection(const SyncEndpoint& endpoint, QList<CandidateKey> candidateKeys,
                   QObject* parent = nullptr);
    // Outbound to a paired device: bound to the session key from the start.
    SyncConnection(const SyncEndpoint& endpoint, const QString& peerId, const QString& peerName,
                   const QByteArray& sessionKey, QObject* parent = nullptr);
    ~SyncConnection() override;

    // Before start().
    void setLimits(const Limits& limits) { m_limits = limits; }

    Role role() const { return m_role; }
    // Where an outbound connection dials; nothing for an inbound one.
    const std::optional<SyncEndpoint>& endpoint() const { return m_endpoint; }
    const std::optional<QString>& peerId() const { return m_peerId; }
    void setPeerId(std::optional<QString> peerId) { m_peerId = std::move(peerId); }
    const std::optional<QString>& peerName() const { return m_peerName; }
    void setPeerName(std::optional<QString> peerName) { m_peerName = std::move(peerName); }
    bool isPairing() const { return m_isPairing; }
    void setPairing(bool pairing) { m_isPairing = pairing; }
    const std::optional<QByteArray>& boundKey() const { return m_boundKey; }
    // A bound key never changes: false (and nothing set) once one is bound.
    bool setBoundKey(const QByteArray& key);
    bool isClosed() const { return m_closed; }
    // The remote address of an accepted socket; null for an outbound one.
    const QHostAddress& peerAddress() const { return m_peerAddress; }

    // Connects (outbound) and starts reading.
    void start();
    Kind kind() const override { return Kind::direct; }
    QString remoteId() const override { return m_peerId.value_or(QString()); }
    bool isUsable() const override { return !m_closed && m_boundKey.has_value(); }
    // Seals with the bound key; without one nothing is sent. Fire and
    // forget; nothing is sent before start() or after close().
    void send(const SyncMessage& message) override { send(message, std::nullopt); }
    // Seals with `key`, else the bound key.
    void send(const SyncMessage& message, const std::optional<QByteArray>& key);
    // Ends the connection after what was handed over has been sent. Idempotent.
    void close();

Q_SIGNALS:
    // Once, queued, after the connection closed for whatever reason.
    void closed();

private:
    SyncConnection(Role role, QList<CandidateKey> candidateKeys, QObject* parent);
    void attach(QTcpSocket* socket);
    void onConnected();
    void onSocketGone();
    void readAvailable();
    void drain();
    void handleFrame(const QByteArray& body);
    void deliver(const SyncMessage& message);
    enum class Ending { graceful, abort };
    void finish(Ending ending);

    Role m_role;
    QList<CandidateKey> m_candidates;
    std::optional<SyncEndpoint> m_endpoint;
    Limits m_limits;
    QTcpSocket* m_socket = nullptr;
    QByteArray m_buffer;
    std::optional<QByteArray> m_boundKey;
    std::optional<QString> m_peerId;
    std::optional<QString> m_peerName;
    QHostAddress m_peerAddress;
    bool m_isPairing = false;
    bool m_started = false;
    bool m_closed = false;
    QTimer m_connectTimer;
    QTimer m_unboundTimer;
};
