#include "RelayServer.h"
#include "LingeringClose.h"
#include "RelayListener.h"

#include <QSslSocket>
#include <QTcpSocket>
#include <QUrl>
#include <QUrlQuery>
#include <QWebSocket>
#include <QWebSocketServer>
#include <algorithm>
#include <cstdio>
#include <malloc.h>

using namespace Qt::StringLiterals;

namespace {

// Longest upgrade request we are willing to buffer before deciding.
constexpr qint64 kMaxRequestHeadBytes = 16 * 1024;
// A member we close politely gets this long to answer before it is cut off.
constexpr std::chrono::milliseconds kCloseGrace{2000};
// A member that leaves holding at least this much has its memory handed back
// to the system, not kept by the allocator for later.
constexpr qint64 kTrimAfterBytes = 256 * 1024;
constexpr std::chrono::milliseconds kTrimDelay{1000};
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
    // Once the sockets are deleted; many leaving at once cost one trim.
    m_trimTimer.setSingleShot(true);
    m_trimTimer.setInterval(kTrimDelay);
    connect(&m_trimTimer, &QTimer::timeout, this, [] { malloc_trim(0); });
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
    if (m_listener)
        m_listener->setSslConfiguration(config);
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
    const char* reason = nullptr;
    if (m_connections.size() >= m_limits.maxConnections) {
        refusal = u"server full"_s;
        reason = "server_full";
    } else if (m_perAddress.value(key) >= m_limits.maxPerAddress) {
        refusal = u"too many connections from "_s + key;
        reason = "per_address";
    }
    if (reason) {
        log(label + u" refused: "_s + refusal);
        refused(reason);
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
        refused("handshake_timeout");
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
                    refused("tls_handshake");
                    ssl->abort();
                });
        // The request can only be read once the handshake is done.
        ssl->startServerEncryption();
    }
}

void RelayServer::inspectRequest(QTcpSocket* socket) {
    auto it = m_connections.find(socket);
    if (it == m_connections.end())
        return;
    if (it->ws) {
        watchIncoming(it->ws);
        return;
    }
    if (it->handedOver) {
        // Qt's upgrade answers later; a client must wait for that answer
        // before it sends frames, so anything now is not a WebSocket client.
        if (!it->handingOver)
            it->earlyData = true;
        return;
    }
    const qint64 available = socket->bytesAvailable();
    const QByteArray head = socket->peek(std::min(available, kMaxRequestHeadBytes));
    // Lines end in CRLF; a bare LF would leave the client waiting out the
    // time-out for an end of head that never comes.
    for (qsizetype at = head.indexOf('\n'); at >= 0; at = head.indexOf('\n', at + 1)) {
        if (at == 0 || head[at - 1] != '\r') {
            refuse(socket, "400 Bad Request", u"request lines not ended by CRLF"_s, "bad_request");
            return;
        }
    }
    const qsizetype end = head.indexOf("\r\n\r\n");
    if (end < 0) {
        if (head.size() >= kMaxRequestHeadBytes)
            refuse(socket, "431 Request Header Fields Too Large", u"request too long"_s,
                   "header_too_large");
        return;
    }
    const QList<QByteArray> lines = head.left(end).split('\n');
    const QList<QByteArray> requestLine = lines.front().chopped(1).split(' ');
    if (requestLine.size() != 3 || requestLine[0] != "GET") {
        refuse(socket, "400 Bad Request", u"not an upgrade request"_s, "bad_request");
        return;
    }
    if (requestLine[2] != "HTTP/1.1") {
        refuse(socket, "505 HTTP Version Not Supported",
               u"not HTTP/1.1: "_s + QString::fromLatin1(requestLine[2].left(16)), "bad_request");
        return;
    }
    QHash<QByteArray, QByteArray> headers;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].endsWith('\r') ? lines[i].chopped(1) : lines[i];
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0) {
            refuse(socket, "400 Bad Request", u"malformed header line"_s, "bad_request");
            return;
        }
        QByteArray& value = headers[line.left(colon).trimmed().toLower()];
        value += (value.isEmpty() ? "" : ", ") + line.mid(colon + 1).trimmed();
    }
    const auto hasToken = [&](const QByteArray& name, const QByteArray& token) {
        const QList<QByteArray> tokens = headers.value(name).split(',');
        return std::any_of(tokens.begin(), tokens.end(), [&](const QByteArray& t) {
            return t.trimmed().compare(token, Qt::CaseInsensitive) == 0;
        });
    };
    static const QByteArray kUpgradeHeaders =
        "Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Version: 13\r\n";
    if (!hasToken("upgrade", "websocket") || !hasToken("connection", "upgrade")) {
        refuse(socket, "426 Upgrade Required", u"not a WebSocket upgrade"_s, "bad_request",
               kUpgradeHeaders);
        return;
    }
    if (!hasToken("sec-websocket-version", "13")) {
        refuse(socket, "426 Upgrade Required", u"unsupported WebSocket version"_s, "bad_request",
               kUpgradeHeaders);
        return;
    }
    const auto key = QByteArray::fromBase64Encoding(headers.value("sec-websocket-key"),
                                                    QByteArray::AbortOnBase64DecodingErrors);
    if (!key || key.decoded.size() != 16 || headers.value("host").isEmpty()) {
        refuse(socket, "400 Bad Request", u"missing or malformed key or host"_s, "bad_request");
        return;
    }
    const std::optional<QString> room = roomFromTarget(requestLine[1]);
    if (!room) {
        refuse(socket, "400 Bad Request", u"missing or malformed room"_s, "bad_request");
        return;
    }
    if (available > end + 4) {
        refuse(socket, "400 Bad Request", u"data sent before the upgrade"_s, "bad_request");
        return;
    }
    if (roomLoad(*room) >= m_limits.maxPerRoom) {
        refuse(socket, "503 Service Unavailable", u"room "_s + shortRoom(*room) + u" is full"_s,
               "room_full");
        return;
    }

    it->room = *room;
    it->handedOver = true;
    ++m_roomLoad[*room];
    m_upgrading.insert(endpointKey(socket->peerAddress(), socket->peerPort(), socket->localPort()),
                       socket);
    // Qt's WebSocket reader copes with its own limits; ours only covered the head.
    socket->setReadBufferSize(0);
    // Our readyRead handler stays connected ahead of Qt's: once the upgrade
    // is done it looks at each frame header before Qt reads the frame.
    it->handingOver = true;
    m_ws->handleConnection(socket);
    if (auto again = m_connections.find(socket); again != m_connections.end())
        again->handingOver = false;
}

void RelayServer::refuse(QTcpSocket* socket, const char* status, const QString& why,
                         const char* reason, const QByteArray& extraHeaders) {
    log(m_connections.value(socket).label + u" refused: "_s + why);
    refused(reason);
    disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
    socket->readAll();
    socket->write(QByteArray("HTTP/1.1 ") + status + "\r\n" + extraHeaders +
                  "Connection: close\r\nContent-Length: 0\r\n\r\n");
    // The client may still be sending; leave it time to read our answer.
    if (!LingeringClose::begin(socket, this, kCloseGrace))
        socket->readAll();
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
        const auto conn = tcp ? m_connections.find(tcp) : m_connections.end();
        if (conn == m_connections.end() || conn->earlyData || m_stopping) {
            // Gone while the upgrade finished, or not a client we can follow
            // frame by frame; nothing is counted for it.
            if (conn != m_connections.end() && conn->earlyData) {
                log(conn->label + u" dropped: sent data before the upgrade was answered"_s);
                refused("bad_request");
            }
            ws->abort();
            ws->deleteLater();
            continue;
        }
        if (QTimer* timer =
                tcp->findChild<QTimer*>(kHandshakeTimerName, Qt::FindDirectChildrenOnly)) {
            timer->stop();
            timer->deleteLater();
        }
        conn->ws = ws;
        ++m_stats.connectionsAccepted;

        // The frame watch closes a member whose message outgrows the limit
        // before Qt would; these only back it up.
        const quint64 limit = static_cast<quint64>(m_limits.maxMessageBytes);
        ws->setMaxAllowedIncomingMessageSize(limit);
        ws->setMaxAllowedIncomingFrameSize(limit);

        QList<QWebSocket*>& room = m_rooms[conn->room];
        room.append(ws);
        auto* ssl = qobject_cast<QSslSocket*>(tcp);
        Member joined{conn->room, conn->label, m_clock.elapsed(),
                      tcp,        ssl,         0,
                      0,          0,           FrameWatch(m_limits.maxMessageBytes)};
        // Nothing the client sent can be waiting yet: early data was refused.
        joined.scanned = tcp->bytesAvailable();
        m_members.insert(ws, std::move(joined));
        log(conn->label + u" joined room "_s + shortRoom(conn->room) + u" ("_s +
            QString::number(room.size()) + u'/' + QString::number(m_limits.maxPerRoom) + u')');

        connect(ws, &QWebSocket::binaryMessageReceived, this,
                [this, ws](const QByteArray& message) { forward(ws, message); });
        // Text is not part of the protocol; it counts as traffic and goes nowhere.
        connect(ws, &QWebSocket::textMessageReceived, this, [this, ws] {
            dropped("text");
            if (auto member = m_members.find(ws); member != m_members.end())
                member->lastActivityMs = m_clock.elapsed();
        });
        connect(ws, &QWebSocket::pong, this, [this, ws] {
            if (auto member = m_members.find(ws); member != m_members.end())
                member->lastActivityMs = m_clock.elapsed();
        });
        connect(ws, &QWebSocket::disconnected, this, [this, ws] { dropMember(ws); });
        // After Qt's reader: what it queued in answer (pongs, a close frame)
        // counts at once, before the next read.
        connect(tcp, &QTcpSocket::readyRead, this, [this, ws] { afterIncoming(ws); });
        const auto written = [this, ws] {
            if (auto member = m_members.find(ws); member != m_members.end())
                recount(*member);
        };
        connect(tcp, &QTcpSocket::bytesWritten, this, written);
        if (ssl)
            connect(ssl, &QSslSocket::encryptedBytesWritten, this, written);
    }
}

// Runs on each read before Qt's WebSocket reader: looks at the frame headers
// among the new bytes and counts the message still arriving.
void RelayServer::watchIncoming(QWebSocket* socket) {
    const auto member = m_members.find(socket);
    if (member == m_members.end())
        return;
    const qint64 available = member->tcp->bytesAvailable();
    const qint64 fresh = available - member->scanned;
    if (fresh <= 0)
        return;
    // Payload is passed over without a copy; only bytes holding a header are looked at.
    const qint64 payload = member->watch.skippable(fresh);
    member->watch.skip(payload);
    FrameWatch::Verdict verdict = FrameWatch::Verdict::Fine;
    if (payload < fresh) {
        if (m_scratch.size() < available)
            m_scratch.resize(available);
        member->tcp->peek(m_scratch.data(), available);
        verdict =
            member->watch.feed(m_scratch.constData() + member->scanned + payload, fresh - payload);
    }
    member->scanned = available;
    const qint64 inbound = member->watch.heldBytes();
    m_heldBytes += inbound - member->inbound;
    member->inbound = inbound;

    switch (verdict) {
    case FrameWatch::Verdict::Fine:
        break;
    case FrameWatch::Verdict::Unmasked:
        closeWithCode(socket, QWebSocketProtocol::CloseCodeProtocolError, u"unmasked frame"_s);
        return;
    case FrameWatch::Verdict::TooLarge:
        dropped("oversize");
        closeWithCode(socket, QWebSocketProtocol::CloseCodeTooMuchData,
                      u"message over "_s + QString::number(m_limits.maxMessageBytes) + u" bytes"_s);
        return;
    case FrameWatch::Verdict::Broken:
        closeWithCode(socket, QWebSocketProtocol::CloseCodeProtocolError, u"malformed frame"_s);
        return;
    }
    enforceQueueBudget();
}

void RelayServer::afterIncoming(QWebSocket* socket) {
    const auto member = m_members.find(socket);
    if (member == m_members.end())
        return;
    // Qt has taken every whole frame; what is left has been looked at.
    member->scanned = member->tcp->bytesAvailable();
    recount(*member);
    if (enforceBacklog(socket))
        enforceQueueBudget();
}

// Tells the client why in a close frame, then lets the connection wind down
// without a reset that could destroy the close frame before it is read.
void RelayServer::closeWithCode(QWebSocket* socket, int code, const QString& why) {
    const auto member = m_members.find(socket);
    if (member == m_members.end())
        return;
    log(member->label + u" closed: "_s + why + u" (code "_s + QString::number(code) + u')');
    // Whatever is still unread is not going to be read: stop counting it.
    m_heldBytes -= member->inbound;
    member->inbound = 0;
    // Qt would still read the rest of what has arrived; there is nothing left
    // for it to read once the close below has cleared the buffer.
    LingeringClose::begin(member->tcp, this, kCloseGrace);
    socket->close(static_cast<QWebSocketProtocol::CloseCode>(code), why);
}

void RelayServer::forward(QWebSocket* sender, const QByteArray& message) {
    const auto member = m_members.find(sender);
    if (member == m_members.end())
        return;
    member->lastActivityMs = m_clock.elapsed();
    // Copy: dropping a slow member below edits the room.
    const QList<QWebSocket*> others = m_rooms.value(member->room);
    if (others.size() <= 1)
        dropped("roomless");
    for (QWebSocket* other : others) {
        if (other == sender)
            continue;
        auto it = m_members.find(other);
        if (it == m_members.end())
            continue;
        recount(*it);
        if (!enforceBacklog(other)) {
            dropped("queue_budget");
            continue;
        }
        other->sendBinaryMessage(message);
        ++m_stats.messagesForwarded;
        m_stats.bytesForwarded += static_cast<quint64>(message.size());
        // Look it up again rather than trust the iterator across the send.
        if (it = m_members.find(other); it != m_members.end())
            recount(*it);
        enforceQueueBudget();
    }
}

// False (and the member dropped) when its backlog has reached the limit.
bool RelayServer::enforceBacklog(QWebSocket* socket) {
    const auto it = m_members.find(socket);
    if (it == m_members.end())
        return false;
    if (it->queued < m_limits.maxBacklogBytes)
        return true;
    evict(socket, u"not reading (backlog of "_s + QString::number(it->queued) +
                      u" bytes, limit "_s + QString::number(m_limits.maxBacklogBytes) + u')');
    return false;
}

void RelayServer::evict(QWebSocket* socket, const QString& why) {
    const auto it = m_members.find(socket);
    if (it == m_members.end())
        return;
    log(it->label + u" dropped: "_s + why);
    trimLater(*it);
    // What it held goes with it; do not count it while the drop completes.
    m_heldBytes -= it->queued + it->inbound;
    it->queued = 0;
    it->inbound = 0;
    socket->abort();
}

// Under TLS most of a member's backlog sits in the encrypted buffer, which
// QSslSocket::bytesToWrite does not count.
void RelayServer::recount(Member& member) {
    qint64 now = member.tcp->bytesToWrite();
    if (member.ssl)
        now += member.ssl->encryptedBytesToWrite();
    m_heldBytes += now - member.queued;
    member.queued = now;
}

void RelayServer::enforceQueueBudget() {
    while (m_heldBytes > m_limits.maxQueuedBytes) {
        auto largest = m_members.end();
        for (auto it = m_members.begin(); it != m_members.end(); ++it)
            if (largest == m_members.end() ||
                it->queued + it->inbound > largest->queued + largest->inbound)
                largest = it;
        if (largest == m_members.end() || largest->queued + largest->inbound <= 0)
            return;
        const bool sending = largest->inbound > largest->queued;
        evict(largest.key(), u"largest "_s + (sending ? u"message in flight ("_s : u"backlog ("_s) +
                                 QString::number(largest->queued + largest->inbound) +
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
    trimLater(*it);
    m_heldBytes -= it->queued + it->inbound;
    disconnect(it->tcp, &QTcpSocket::bytesWritten, this, nullptr);
    disconnect(it->tcp, &QTcpSocket::readyRead, this, nullptr);
    if (it->ssl)
        disconnect(it->ssl, &QSslSocket::encryptedBytesWritten, this, nullptr);
    m_members.erase(it);
    disconnect(socket, nullptr, this, nullptr);
    socket->deleteLater();
    checkStopped();
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
    // The pings are queued towards the members like anything else.
    for (auto it = m_members.begin(); it != m_members.end(); ++it)
        recount(*it);
    enforceQueueBudget();
}

void RelayServer::stop(std::chrono::milliseconds grace) {
    if (m_stopping)
        return;
    m_stopping = true;
    log(u"stopping: closing "_s + QString::number(m_members.size()) + u" members"_s);
    m_listener->close();
    m_sweepTimer.stop();
    // Not yet members: nothing to say goodbye to.
    const QList<QTcpSocket*> pending = m_connections.keys();
    for (QTcpSocket* socket : pending)
        if (!m_connections.value(socket).ws)
            socket->abort();
    const QList<QWebSocket*> members = m_members.keys();
    for (QWebSocket* ws : members)
        ws->close(QWebSocketProtocol::CloseCodeGoingAway, u"relay stopping"_s);
    m_stopTimer.setSingleShot(true);
    connect(&m_stopTimer, &QTimer::timeout, this, [this] {
        log(u"stopping: "_s + QString::number(m_members.size()) +
            u" members did not close in time"_s);
        const QList<QWebSocket*> left = m_members.keys();
        for (QWebSocket* ws : left)
            ws->abort();
        Q_EMIT stopped();
    });
    m_stopTimer.start(grace);
    checkStopped();
}

void RelayServer::checkStopped() {
    if (!m_stopping || !m_members.isEmpty() || !m_stopTimer.isActive())
        return;
    m_stopTimer.stop();
    // Let the close frames and FINs go out before the caller ends the process.
    QTimer::singleShot(0, this, &RelayServer::stopped);
}

void RelayServer::trimLater(const Member& member) {
    if (member.queued + member.inbound >= kTrimAfterBytes && !m_trimTimer.isActive())
        m_trimTimer.start();
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
