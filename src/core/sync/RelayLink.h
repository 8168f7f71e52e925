#pragma once

#include "core/sync/PeerLink.h"
#include "core/sync/SyncMessage.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QUrl>
#include <chrono>
#include <optional>

class QWebSocket;

// One WebSocket connection to the relay for one purpose: a paired peer, or an
// open pairing. Each message is one binary WebSocket message holding one
// sealed message; the relay only forwards, it never holds a key. The link
// reconnects by itself with back-off, pings to notice a dead path, and
// announces its connected state only when it changes.
//
// Every (re)connect starts a new epoch; whatever an older socket still
// reports (open, close, error, message) is ignored, so replacing a connection
// can never tear down its replacement.
class RelayLink : public PeerLink {
    Q_OBJECT
public:
    struct Timing {
        std::chrono::milliseconds pingInterval{25'000};
        // One second of back-off; the logged delays stay 2, 4, 8, 16, 30 of
        // these, the waits up to 15 % shorter.
        std::chrono::milliseconds backoffUnit{1000};
    };

    RelayLink(QUrl url, QString peerId, QString peerName, QByteArray sessionKey, QString deviceId,
              QObject* parent = nullptr);
    ~RelayLink() override;

    // The link URL for a configured relay address: whitespace other than line
    // breaks trimmed, one trailing "/" dropped, the query replaced by exactly
    // "room" and "device". Nothing when the address is not a ws:// or wss://
    // URL (http and https are taken as ws and wss).
    static std::optional<QUrl> linkUrl(const QString& relayURL, const QString& roomId,
                                       const QString& deviceId);
    // Seconds to wait before reconnect attempt `attempt` (1-based).
    static int backoffSeconds(int attempt);
    // The wait actually taken before attempt `attempt`: backoffSeconds() of
    // `unit`, less up to 15 % at random.
    static std::chrono::milliseconds backoffDelay(int attempt, std::chrono::milliseconds unit);

    // Before start(); tests shorten the delays.
    void setTiming(const Timing& timing) { m_timing = timing; }

    const QUrl& url() const { return m_url; }
    const QString& peerId() const { return m_peerId; }
    const QString& peerName() const { return m_peerName; }
    bool isConnected() const { return m_connected; }
    // Neither connected nor closed, with a reconnect scheduled.
    bool isWaitingToReconnect() const;

    // (Re)opens the WebSocket; does nothing once closed.
    void start();
    Kind kind() const override { return Kind::relay; }
    QString remoteId() const override { return m_peerId; }
    bool isUsable() const override { return m_connected; }
    // Seals and sends one message; fire and forget.
    void send(const SyncMessage& message) override;
    // Closes for good. A closed link is never restarted.
    void close();
    // Closes once what was handed over has left, or after `limit` at most;
    // nothing more is delivered meanwhile.
    void closeAfterSending(std::chrono::milliseconds limit = std::chrono::seconds(2));
    // A link its owner is done with: its late signals must not reach
    // `receiver`, and it may still be inside one of its own, so it is
    // deleted once control returns.
    static void discard(RelayLink* link, const QObject* receiver);
    // Another path to the same device works again: the back-off starts over,
    // and a wait longer than the first delay is cut to it. Does nothing while
    // connected or once closed.
    void resetBackoff();
    // The relay is known to answer again: a waiting link reconnects within
    // half a second and its back-off starts over. Does nothing unless
    // isWaitingToReconnect().
    void retryNow();

Q_SIGNALS:
    // The new connected state, queued, only when it changes.
    void connectedChanged(bool connected);
    // Why the relay could not be reached, queued, each time the reason
    // differs from the last one (an open connection forgets it).
    void unreachable(const QString& reason);

private:
    bool isCurrent(quint64 epoch) const { return !m_stopped && epoch == m_generation; }
    void onOpened(quint64 epoch);
    void onBroken(quint64 epoch);
    void onBinary(quint64 epoch, const QByteArray& data);
    void onPingTick();
    void scheduleReconnect(quint64 epoch);
    void setConnected(bool connected);
    void retire(QWebSocket* socket);
    void reportFailure(quint64 epoch, QWebSocket* socket);
    void reportFailureText(const QString& reason);

    QUrl m_url;
    QString m_peerId;
    QString m_peerName;
    QByteArray m_sessionKey;
    QString m_deviceId;
    Timing m_timing;

    QWebSocket* m_socket = nullptr;
    quint64 m_generation = 0;
    bool m_opened = false;       // the current epoch's socket has opened
    bool m_broken = false;       // the current epoch's socket has failed
    bool m_closing = false;      // a close frame was sent or received this epoch
    bool m_awaitingPong = false; // the last ping of this epoch is unanswered
    bool m_reconnectPending = false;
    quint64 m_reconnectEpoch = 0;
    int m_reconnectAttempt = 0;
    bool m_stopped = false;
    bool m_draining = false; // closing once the last send has left
    bool m_connected = false;
    // Sent while the socket is still opening; it goes out once open.
    QList<QByteArray> m_queued;
    // What OpenSSL held against the relay's certificate this epoch.
    QStringList m_sslErrors;
    QString m_lastFailure;
    qint64 m_queuedBytes = 0;

    QTimer m_reconnectTimer;
    QTimer m_pingTimer;
};
