#pragma once

#include "FrameWatch.h"

#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QObject>
#include <QSslConfiguration>
#include <QString>
#include <QTimer>
#include <chrono>
#include <functional>
#include <optional>

class QSslSocket;
class QTcpSocket;
class QWebSocket;
class QWebSocketServer;
class RelayListener;

// A WebSocket relay that only forwards: clients name a room in the "room" query
// item of the upgrade request, and every binary message is passed on to the
// other members of the same room. It never looks inside a message.
//
// We accept TCP ourselves and read the upgrade request before Qt's WebSocket
// server sees it, so a missing or malformed room, or a full room, is refused
// with an HTTP status instead of being upgraded first and closed afterwards.
// Only well-formed requests are handed to QWebSocketServer::handleConnection.
// The connection limits and the handshake time-out start at TCP accept, before
// any TLS handshake.
class RelayServer : public QObject {
    Q_OBJECT
public:
    struct Limits {
        // A sealed message is at most 1 MiB; the WebSocket framing comes on top
        // and is not counted by Qt's limit.
        qint64 maxMessageBytes = 1'048'576;
        int maxPerRoom = 16;
        int maxPerAddress = 32;
        int maxConnections = 4096;
        // No message and no pong for this long closes a member. We ping members
        // at a third of it, so a healthy client always answers in time.
        std::chrono::milliseconds idleTimeout{90'000};
        // From accepting the TCP connection to a finished upgrade.
        std::chrono::milliseconds handshakeTimeout{10'000};
        // Bytes queued towards one member that does not read; once reached,
        // the next message for it drops the member rather than letting the
        // relay's memory grow. Two of the largest messages fit.
        qint64 maxBacklogBytes = 2 * 1'048'576;
        // Bytes held for all members together: queued towards them, and of
        // messages they are still sending us. Over it, the member holding the
        // most is dropped until the total fits again, so many stalled readers
        // or stalled senders cannot add up to more memory than the host has.
        qint64 maxQueuedBytes = 256 * 1'048'576;
    };

    // Counters since start, for the metrics endpoint.
    struct Stats {
        quint64 messagesForwarded = 0; // copies delivered to members
        quint64 bytesForwarded = 0;
        quint64 connectionsAccepted = 0; // upgraded to members
        QMap<QString, quint64> dropped;  // messages, by reason
        QMap<QString, quint64> refused;  // connections, by reason
    };

    explicit RelayServer(Limits limits, QObject* parent = nullptr);
    ~RelayServer() override;

    // Serve wss:// with this certificate and key. Called again while
    // listening, new connections use the new one and open ones carry on.
    void setSslConfiguration(const QSslConfiguration& config);
    // One line per connection event; stderr unless replaced.
    void setLogger(std::function<void(const QString&)> logger);

    bool listen(const QHostAddress& address, quint16 port);
    QString errorString() const;
    quint16 serverPort() const;

    // Open TCP connections, upgraded or not.
    int connectionCount() const { return static_cast<int>(m_connections.size()); }
    int memberCount() const { return static_cast<int>(m_members.size()); }
    int roomCount() const { return static_cast<int>(m_rooms.size()); }
    // Bytes held for members: queued towards them and of messages arriving.
    qint64 heldBytes() const { return m_heldBytes; }
    const Stats& stats() const { return m_stats; }

    // Stops accepting, closes every member with "going away" and every
    // connection still upgrading, and emits stopped() once all are gone or
    // after `grace`, whichever comes first.
    void stop(std::chrono::milliseconds grace);

    // The room a request names, if the request target carries exactly one
    // well-formed "room" item (64 lower-case hex digits).
    static std::optional<QString> roomFromTarget(const QByteArray& target);

Q_SIGNALS:
    void stopped();

private:
    struct Connection {
        QString addressKey;
        QString label;
        QString room; // set once the request has been accepted
        bool handedOver = false;
        bool handingOver = false; // inside handleConnection()
        bool earlyData = false;   // sent data before our answer to its request
        QWebSocket* ws = nullptr; // once upgraded
    };
    struct Member {
        QString room;
        QString label;
        qint64 lastActivityMs = 0;
        QTcpSocket* tcp = nullptr; // the socket under the WebSocket
        QSslSocket* ssl = nullptr; // the same socket under TLS, else null
        qint64 queued = 0;         // towards it; part of m_heldBytes
        qint64 inbound = 0;        // of its message still arriving; part of m_heldBytes
        qint64 scanned = 0;        // bytes at the front of its read buffer the watch has seen
        FrameWatch watch;
    };

    void accept(QTcpSocket* socket);
    void inspectRequest(QTcpSocket* socket);
    void refuse(QTcpSocket* socket, const char* status, const QString& why, const char* reason,
                const QByteArray& extraHeaders = {});
    void release(QTcpSocket* socket);
    void adoptUpgraded();
    void forward(QWebSocket* sender, const QByteArray& message);
    void watchIncoming(QWebSocket* socket);
    void afterIncoming(QWebSocket* socket);
    void closeWithCode(QWebSocket* socket, int code, const QString& why);
    void dropMember(QWebSocket* socket);
    void evict(QWebSocket* socket, const QString& why);
    void recount(Member& member);
    bool enforceBacklog(QWebSocket* socket);
    void enforceQueueBudget();
    void refused(const char* reason) { ++m_stats.refused[QString::fromLatin1(reason)]; }
    void dropped(const char* reason, quint64 count = 1) {
        m_stats.dropped[QString::fromLatin1(reason)] += count;
    }
    void checkStopped();
    // Hands the memory of a member that held much back to the system soon.
    void trimLater(const Member& member);
    void sweep();
    int roomLoad(const QString& room) const;
    void log(const QString& line) const;

    Limits m_limits;
    std::optional<QSslConfiguration> m_ssl;
    std::function<void(const QString&)> m_logger;
    RelayListener* m_listener = nullptr;
    QWebSocketServer* m_ws = nullptr;
    QTimer m_sweepTimer;
    QElapsedTimer m_clock;

    QHash<QTcpSocket*, Connection> m_connections;
    QHash<QString, int> m_perAddress;
    QHash<QString, int> m_roomLoad;          // accepted requests, upgraded or not
    QHash<QString, QTcpSocket*> m_upgrading; // by endpoint key, until adopted
    QHash<QWebSocket*, Member> m_members;
    QHash<QString, QList<QWebSocket*>> m_rooms; // members in joining order
    qint64 m_heldBytes = 0;                     // for all members
    QByteArray m_scratch;                       // a copy of unread input to look at
    Stats m_stats;
    bool m_stopping = false;
    QTimer m_stopTimer;
    QTimer m_trimTimer; // hands freed memory back after a large member left
};
