#include "RelayServer.h"
#include "RelayListener.h"

#include <QSslSocket>
#include <QTcpSocket>
#include <QUrl>
#include <QUrlQuery>
#include <QWebSocket>
#include <QWebSocketServer>
#include <algorithm>
#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

// Longest upgrade request we are willing to buffer before deciding.
constexpr qint64 kMaxRequestHeadBytes = 16 * 1024;
// A member we close politely gets this long to answer before it is cut off.
constexpr std::chrono::milliseconds kCloseGrace{2000};
// After accept() fails for want of descriptors, accepting pauses this long.
constexpr std::chrono::milliseconds kAcceptRetry{1000};
const auto kHandshakeTimerName = u"relayHandshakeTimer"_s;

// Connections are counted per IPv4 address, and per /64 for IPv6, since one
// IPv6 host usually holds a whole /64.
QString addressKey(const QHostAddress& address) {
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    if (isV4)
        return QHostAddress(v4).toString();
    Q_IPV6ADDR bytes = address.toIPv6Address();
    std::fill(std::begin(bytes.c) + 8, std::end(bytes.c), quint8{0});
    return QHostAddress(bytes).toString() + u"/64"_s;
}

QString endpointLabel(const QHostAddress& address, quint16 port) {
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    const QString host = isV4 ? QHostAddress(v4).toString() : u'[' + address.toString() + u']';
    return host + u':' + QString::number(port);
}

// Identifies one TCP connection on both sides of the hand-over to Qt's
// WebSocket server, which does not tell us which socket it upgraded.
QString endpointKey(const QHostAddress& peer, quint16 peerPort, quint16 localPort) {
    return peer.toString() + u'|' + QString::number(peerPort) + u'|' + QString::number(localPort);
}

QString shortRoom(const QString& room) {
    return room.left(8) + u"..."_s;
}

bool isLowerHex(const QString& text) {
    return std::all_of(text.begin(), text.end(), [](QChar c) {
        return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f');
    });
}

} // namespace

RelayServer::RelayServer(Limits limits, QObject* parent) : QObject(parent), m_limits(limits) {
    m_clock.start();
    m_sweepTimer.setInterval(std::max(m_limits.idleTimeout / 3, std::chrono::milliseconds(10)));
    connect(&m_sweepTimer, &QTimer::timeout, this, &RelayServer::sweep);
}

RelayServer::~RelayServer() {
    // Sockets die with their servers below; their signals must not reach a
    // half-destroyed relay.
    for (auto it = m_connections.keyBegin(); it != m_connections.keyEnd(); ++it)
        disconnect(*it, nullptr, this, nullptr);
    for (auto it = m_members.keyBegin(); it != m_members.keyEnd(); ++it)
        disconnect(*it, nullptr, this, nullptr);
}

void RelayServer::setSslConfiguration(const QSslConfiguration& config) {
    m_ssl = config;
}

void RelayServer::setLogger(std::function<void(const QString&)> logger) {
    m_logger = std::move(logger);
}

bool RelayServer::listen(const QHostAddress& address, quint16 port) {
    m_listener = new RelayListener(m_ssl, this);
    m_listener->setRetryInterval(kAcceptRetry);
    m_ws = new QWebSocketServer(
        u"tindrel-relay"_s, m_ssl ? QWebSocketServer::SecureMode : QWebSocketServer::NonSecureMode,
        this);
    connect(m_listener, &RelayListener::accepted, this, &RelayServer::accept);
    connect(m_listener, &RelayListener::acceptFailing, this, [this](const QString& why) {
        log(u"cannot accept connections: "_s + why + u"; trying again every "_s +
            QString::number(kAcceptRetry.count()) + u" ms"_s);
    });
    connect(m_listener, &RelayListener::acceptRecovered, this,
            [this] { log(u"accepting connections again"_s); });
    connect(m_ws, &QWebSocketServer::newConnection, this, &RelayServer::adoptUpgraded);
    if (!m_listener->listen(address, port))
        return false;
    m_sweepTimer.start();
    return true;
}

QString RelayServer::errorString() const {
    return m_listener ? m_listener->errorString() : QString();
}

quint16 RelayServer::serverPort() const {
    return m_listener ? m_listener->serverPort() : 0;
}

std::optional<QString> RelayServer::roomFromTarget(const QByteArray& target) {
    const QUrl url = QUrl::fromEncoded(target, QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    const QStringList rooms =
        QUrlQuery(url.query(QUrl::FullyEncoded)).allQueryItemValues(u"room"_s);
    if (rooms.size() != 1)
        return std::nullopt;
    const QString& room = rooms.front();
    if (room.size() != 64 || !isLowerHex(room))
        return std::nullopt;
    return room;
}

void RelayServer::accept(QTcpSocket* socket) {
    const QString key = addressKey(socket->peerAddress());
    const QString label = endpointLabel(socket->peerAddress(), socket->peerPort());
    QString refusal;
    if (m_connections.size() >= m_limits.maxConnections)
        refusal = u"server full"_s;
    else if (m_perAddress.value(key) >= m_limits.maxPerAddress)
        refusal = u"too many connections from "_s + key;
    if (!refusal.isEmpty()) {
        log(label + u" refused: "_s + refusal);
        socket->abort();
        socket->deleteLater();
        return;
    }

    m_connections.insert(socket, Connection{key, label, {}, false});
    // Until the request is judged, buffer no more than a request head.
    socket->setReadBufferSize(kMaxRequestHeadBytes);
    ++m_perAddress[key];

    auto* timer = new QTimer(socket);
    timer->setObjectName(kHandshakeTimerName);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, socket, [this, socket] {
        log(m_connections.value(socket).label + u" dropped: no upgrade in time"_s);
        socket->abort();
    });
    timer->start(m_limits.handshakeTimeout);

    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { inspectRequest(socket); });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
        const bool handedOver = m_connections.value(socket).handedOver;
        release(socket);
        // Once handed over, the WebSocket side owns the socket.
        if (!handedOver)
            socket->deleteLater();
    });
    connect(socket, &QObject::destroyed, this, [this, socket] { release(socket); });
    if (auto* ssl = qobject_cast<QSslSocket*>(socket)) {
        connect(ssl, &QSslSocket::errorOccurred, this,
                [this, ssl](QAbstractSocket::SocketError error) {
                    if (error != QAbstractSocket::SslHandshakeFailedError)
                        return;
                    log(m_connections.value(ssl).label + u" dropped: TLS handshake failed"_s);
                    ssl->abort();
                });
        // The request can only be read once the handshake is done.
        ssl->startServerEncryption();
    }
}

void RelayServer::inspectRequest(QTcpSocket* socket) {
    auto it = m_connections.find(socket);
    if (it == m_connections.end() || it->handedOver)
        return;
    const QByteArray head = socket->peek(std::min(socket->bytesAvailable(), kMaxRequestHeadBytes));
    const qsizetype end = head.indexOf("\r\n\r\n");
    if (end < 0) {
        if (head.size() >= kMaxRequestHeadBytes)
            refuse(socket, "431 Request Header Fields Too Large", u"request too long"_s);
        return;
    }
    const QList<QByteArray> requestLine = head.left(head.indexOf("\r\n")).split(' ');
    if (requestLine.size() != 3 || requestLine[0] != "GET") {
        refuse(socket, "400 Bad Request", u"not an upgrade request"_s);
        return;
    }
    const std::optional<QString> room = roomFromTarget(requestLine[1]);
    if (!room) {
        refuse(socket, "400 Bad Request", u"missing or malformed room"_s);
        return;
    }
    if (roomLoad(*room) >= m_limits.maxPerRoom) {
        refuse(socket, "503 Service Unavailable", u"room "_s + shortRoom(*room) + u" is full"_s);
        return;
    }

    it->room = *room;
    it->handedOver = true;
    ++m_roomLoad[*room];
    disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
    m_upgrading.insert(endpointKey(socket->peerAddress(), socket->peerPort(), socket->localPort()),
                       socket);
    // Qt's WebSocket reader copes with its own limits; ours only covered the head.
    socket->setReadBufferSize(0);
    m_ws->handleConnection(socket);
}

void RelayServer::refuse(QTcpSocket* socket, const char* status, const QString& why) {
    log(m_connections.value(socket).label + u" refused: "_s + why);
    disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
    socket->readAll(); // unread input would turn our close into a reset that eats the reply
    socket->write(QByteArray("HTTP/1.1 ") + status +
                  "\r\nConnection: close\r\nContent-Length: 0\r\n\r\n");
    socket->disconnectFromHost();
    QTimer::singleShot(kCloseGrace, socket, [socket] { socket->abort(); });
}

void RelayServer::release(QTcpSocket* socket) {
    const auto it = m_connections.find(socket);
    if (it == m_connections.end())
        return;
    if (--m_perAddress[it->addressKey] <= 0)
        m_perAddress.remove(it->addressKey);
    if (!it->room.isEmpty() && --m_roomLoad[it->room] <= 0)
        m_roomLoad.remove(it->room);
    for (auto up = m_upgrading.begin(); up != m_upgrading.end(); ++up) {
        if (up.value() == socket) {
            m_upgrading.erase(up);
            break;
        }
    }
    m_connections.erase(it);
}

void RelayServer::adoptUpgraded() {
    while (m_ws->hasPendingConnections()) {
        QWebSocket* ws = m_ws->nextPendingConnection();
        if (!ws)
            break;
        QTcpSocket* tcp =
            m_upgrading.take(endpointKey(ws->peerAddress(), ws->peerPort(), ws->localPort()));
        const auto conn = tcp ? m_connections.constFind(tcp) : m_connections.constEnd();
        if (conn == m_connections.constEnd()) {
            // Gone while the upgrade finished; nothing is counted for it.
            ws->abort();
            ws->deleteLater();
            continue;
        }
        if (QTimer* timer =
                tcp->findChild<QTimer*>(kHandshakeTimerName, Qt::FindDirectChildrenOnly)) {
            timer->stop();
            timer->deleteLater();
        }

        const quint64 limit = static_cast<quint64>(m_limits.maxMessageBytes);
        ws->setMaxAllowedIncomingMessageSize(limit);
        ws->setMaxAllowedIncomingFrameSize(limit);

        QList<QWebSocket*>& room = m_rooms[conn->room];
        room.append(ws);
        auto* ssl = qobject_cast<QSslSocket*>(tcp);
        m_members.insert(ws, Member{conn->room, conn->label, m_clock.elapsed(), tcp, ssl, 0});
        log(conn->label + u" joined room "_s + shortRoom(conn->room) + u" ("_s +
            QString::number(room.size()) + u'/' + QString::number(m_limits.maxPerRoom) + u')');

        connect(ws, &QWebSocket::binaryMessageReceived, this,
                [this, ws](const QByteArray& message) { forward(ws, message); });
        // Text is not part of the protocol; it counts as traffic and goes nowhere.
        connect(ws, &QWebSocket::textMessageReceived, this, [this, ws] {
            if (auto member = m_members.find(ws); member != m_members.end())
                member->lastActivityMs = m_clock.elapsed();
        });
        connect(ws, &QWebSocket::pong, this, [this, ws] {
            if (auto member = m_members.find(ws); member != m_members.end())
                member->lastActivityMs = m_clock.elapsed();
        });
        connect(ws, &QWebSocket::disconnected, this, [this, ws] { dropMember(ws); });
        const auto written = [this, ws] {
            if (auto member = m_members.find(ws); member != m_members.end())
                recount(*member);
        };
        connect(tcp, &QTcpSocket::bytesWritten, this, written);
        if (ssl)
            connect(ssl, &QSslSocket::encryptedBytesWritten, this, written);
    }
}

void RelayServer::forward(QWebSocket* sender, const QByteArray& message) {
    const auto member = m_members.find(sender);
    if (member == m_members.end())
        return;
    member->lastActivityMs = m_clock.elapsed();
    // Copy: dropping a slow member below edits the room.
    const QList<QWebSocket*> others = m_rooms.value(member->room);
    for (QWebSocket* other : others) {
        if (other == sender)
            continue;
        auto it = m_members.find(other);
        if (it == m_members.end())
            continue;
        recount(*it);
        if (it->queued >= m_limits.maxBacklogBytes) {
            evict(other, u"not reading (backlog of "_s + QString::number(it->queued) +
                             u" bytes, limit "_s + QString::number(m_limits.maxBacklogBytes) +
                             u')');
            continue;
        }
        other->sendBinaryMessage(message);
        // Look it up again rather than trust the iterator across the send.
        if (it = m_members.find(other); it != m_members.end())
            recount(*it);
        enforceQueueBudget();
    }
}

void RelayServer::evict(QWebSocket* socket, const QString& why) {
    const auto it = m_members.find(socket);
    if (it == m_members.end())
        return;
    log(it->label + u" dropped: "_s + why);
    // What it had queued goes with it; do not count it while the drop completes.
    m_queuedBytes -= it->queued;
    it->queued = 0;
    socket->abort();
}

// Under TLS most of a member's backlog sits in the encrypted buffer, which
// QSslSocket::bytesToWrite does not count.
void RelayServer::recount(Member& member) {
    qint64 now = member.tcp->bytesToWrite();
    if (member.ssl)
        now += member.ssl->encryptedBytesToWrite();
    m_queuedBytes += now - member.queued;
    member.queued = now;
}

void RelayServer::enforceQueueBudget() {
    while (m_queuedBytes > m_limits.maxQueuedBytes) {
        auto largest = m_members.end();
        for (auto it = m_members.begin(); it != m_members.end(); ++it)
            if (largest == m_members.end() || it->queued > largest->queued)
                largest = it;
        if (largest == m_members.end() || largest->queued <= 0)
            return;
        evict(largest.key(), u"largest backlog ("_s + QString::number(largest->queued) +
                                 u" bytes) while the queue budget of "_s +
                                 QString::number(m_limits.maxQueuedBytes) +
                                 u" bytes is exceeded"_s);
    }
}

void RelayServer::dropMember(QWebSocket* socket) {
    const auto it = m_members.find(socket);
    if (it == m_members.end())
        return;
    QList<QWebSocket*>& room = m_rooms[it->room];
    room.removeOne(socket);
    log(it->label + u" left room "_s + shortRoom(it->room) + u" (code "_s +
        QString::number(socket->closeCode()) + u", "_s + QString::number(room.size()) +
        u" left)"_s);
    if (room.isEmpty())
        m_rooms.remove(it->room);
    m_queuedBytes -= it->queued;
    disconnect(it->tcp, &QTcpSocket::bytesWritten, this, nullptr);
    if (it->ssl)
        disconnect(it->ssl, &QSslSocket::encryptedBytesWritten, this, nullptr);
    m_members.erase(it);
    disconnect(socket, nullptr, this, nullptr);
    socket->deleteLater();
}

void RelayServer::sweep() {
    const qint64 now = m_clock.elapsed();
    QList<QWebSocket*> idle;
    for (auto it = m_members.begin(); it != m_members.end(); ++it) {
        if (now - it->lastActivityMs > m_limits.idleTimeout.count())
            idle.append(it.key());
        else
            it.key()->ping();
    }
    for (QWebSocket* ws : idle) {
        log(m_members.value(ws).label + u" idle: closing"_s);
        ws->close(QWebSocketProtocol::CloseCodeGoingAway, u"idle"_s);
        // A peer that is gone will not answer the close; cut it off then.
        QTimer::singleShot(kCloseGrace, ws, [ws] { ws->abort(); });
    }
}

int RelayServer::roomLoad(const QString& room) const {
    return m_roomLoad.value(room);
}

void RelayServer::log(const QString& line) const {
    if (m_logger) {
        m_logger(line);
        return;
    }
    const QByteArray bytes = (u"tindrel-relay: "_s + line).toUtf8();
    std::fprintf(stderr, "%s\n", bytes.constData());
    std::fflush(stderr);
}
