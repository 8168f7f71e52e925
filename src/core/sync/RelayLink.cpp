#include "core/sync/RelayLink.h"

#include "core/sync/SyncCrypto.h"
#include "core/sync/SyncLog.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSslError>
#include <QUrlQuery>
#include <QWebSocket>
#include <algorithm>

using namespace Qt::StringLiterals;

namespace {
constexpr int kMaxAttempt = 6;
constexpr int kMaxBackoffSeconds = 30;
// Bytes waiting towards the relay (or queued while opening) beyond which the
// path counts as broken rather than letting memory grow.
constexpr qint64 kMaxPendingBytes = 8 * 1024 * 1024;
// A replaced socket gets this long to finish its close handshake.
constexpr std::chrono::milliseconds kRetireGrace{2000};
// What RFC 6455 reports for a connection lost without a close frame.
constexpr int kAbnormalClosure = 1006;
// Links that failed together (all links to one relay when it goes away) would
// otherwise retry together, each time. The spread only ever shortens a wait:
// the longest stays 30 s, and the logged delay stays the one it was cut from.
constexpr int kBackoffJitterPermille = 150;
// retryNow() spreads the links of one relay over this much, so that they do
// not all reach it in the same millisecond when it comes back.
constexpr int kRetryJitterMs = 500;
} // namespace

RelayLink::RelayLink(QUrl url, QString peerId, QString peerName, QByteArray sessionKey,
                     QString deviceId, QObject* parent)
    : PeerLink(parent), m_url(std::move(url)), m_peerId(std::move(peerId)),
      m_peerName(std::move(peerName)), m_sessionKey(std::move(sessionKey)),
      m_deviceId(std::move(deviceId)) {
    m_reconnectTimer.setSingleShot(true);
    QObject::connect(&m_reconnectTimer, &QTimer::timeout, this, [this] {
        if (isCurrent(m_reconnectEpoch))
            start();
    });
    QObject::connect(&m_pingTimer, &QTimer::timeout, this, &RelayLink::onPingTick);
}

RelayLink::~RelayLink() {
    m_stopped = true;
    if (m_socket)
        m_socket->disconnect(this);
}

std::optional<QUrl> RelayLink::linkUrl(const QString& relayURL, const QString& roomId,
                                       const QString& deviceId) {
    // Spaces and tabs, not line breaks: a URL with a line break in it is not valid.
    const auto trimmable = [](QChar c) {
        return c == u'\t' || c.category() == QChar::Separator_Space;
    };
    qsizetype begin = 0;
    qsizetype end = relayURL.size();
    while (begin < end && trimmable(relayURL[begin]))
        ++begin;
    while (end > begin && trimmable(relayURL[end - 1]))
        --end;
    QString base = relayURL.mid(begin, end - begin);
    if (base.endsWith(u'/'))
        base.chop(1);

    QUrl url(base, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return std::nullopt;
    const QString scheme = url.scheme().toLower();
    if (scheme == u"ws"_s || scheme == u"http"_s)
        url.setScheme(u"ws"_s);
    else if (scheme == u"wss"_s || scheme == u"https"_s)
        url.setScheme(u"wss"_s);
    else
        return std::nullopt;
    // With the slash gone the path may be empty; the request still needs "/".
    if (url.path().isEmpty())
        url.setPath(u"/"_s);
    QUrlQuery query;
    query.addQueryItem(u"room"_s, roomId);
    query.addQueryItem(u"device"_s, deviceId);
    url.setQuery(query);
    return url;
}

int RelayLink::backoffSeconds(int attempt) {
    return std::min(1 << std::clamp(attempt, 1, kMaxAttempt), kMaxBackoffSeconds);
}

std::chrono::milliseconds RelayLink::backoffDelay(int attempt, std::chrono::milliseconds unit) {
    const std::chrono::milliseconds nominal = backoffSeconds(attempt) * unit;
    const qint64 cut =
        nominal.count() * QRandomGenerator::global()->bounded(kBackoffJitterPermille + 1) / 1000;
    return nominal - std::chrono::milliseconds(cut);
}

bool RelayLink::isWaitingToReconnect() const {
    return !m_stopped && !m_draining && !m_connected && m_reconnectPending;
}

void RelayLink::resetBackoff() {
    if (m_stopped || m_draining || m_connected)
        return;
    m_reconnectAttempt = 0;
    if (!m_reconnectPending || !m_reconnectTimer.isActive())
        return;
    if (m_reconnectTimer.remainingTimeAsDuration() > backoffSeconds(1) * m_timing.backoffUnit)
        m_reconnectTimer.start(backoffDelay(1, m_timing.backoffUnit));
}

void RelayLink::retryNow() {
    if (!isWaitingToReconnect())
        return;
    m_reconnectAttempt = 0;
    const std::chrono::milliseconds jitter{QRandomGenerator::global()->bounded(kRetryJitterMs + 1)};
    // Never later than the reconnect already due.
    if (!m_reconnectTimer.isActive() || m_reconnectTimer.remainingTimeAsDuration() > jitter)
        m_reconnectTimer.start(jitter);
}

void RelayLink::start() {
    if (m_stopped)
        return;
    const quint64 epoch = ++m_generation;
    m_reconnectPending = false;
    m_reconnectTimer.stop();
    m_opened = false;
    m_broken = false;
    m_closing = false;
    m_awaitingPong = false;
    m_queued.clear();
    m_queuedBytes = 0;
    m_sslErrors.clear();
    retire(std::exchange(m_socket, nullptr));

    // Such a name never resolves (RFC 6761); asking a DNS server would
    // only leak it.
    if (m_url.host().toLower().endsWith(u".invalid"_s) || m_url.host().toLower() == u"invalid"_s) {
        m_broken = true;
        reportFailureText(u"the name "_s + m_url.host() + u" does not resolve"_s);
        scheduleReconnect(epoch);
        return;
    }

    auto* socket = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this);
    socket->setMaxAllowedIncomingMessageSize(SyncCrypto::maxSealedSize);
    socket->setMaxAllowedIncomingFrameSize(SyncCrypto::maxSealedSize);
    m_socket = socket;
    QObject::connect(socket, &QWebSocket::connected, this, [this, epoch] { onOpened(epoch); });
    QObject::connect(socket, &QWebSocket::disconnected, this, [this, epoch] { onBroken(epoch); });
    // Only a close handshake announces itself; a dropped connection goes
    // straight to "disconnected" with the close code still at its default.
    QObject::connect(socket, &QWebSocket::aboutToClose, this, [this, epoch] {
        if (isCurrent(epoch))
            m_closing = true;
    });
    // The certificate is not ignored: the errors only say why the link fails.
    QObject::connect(socket, &QWebSocket::sslErrors, this,
                     [this, epoch](const QList<QSslError>& errors) {
                         if (!isCurrent(epoch))
                             return;
                         for (const QSslError& error : errors)
                             m_sslErrors.append(error.errorString());
                     });
    QObject::connect(socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), this,
                     [this, epoch, socket] {
                         reportFailure(epoch, socket);
                         // Usually "disconnected" follows and carries the close code; wait for
                         // it unless the socket is already down.
                         if (socket->state() == QAbstractSocket::UnconnectedState)
                             onBroken(epoch);
                         else
                             QMetaObject::invokeMethod(
                                 this, [this, epoch] { onBroken(epoch); }, Qt::QueuedConnection);
                     });
    QObject::connect(socket, &QWebSocket::binaryMessageReceived, this,
                     [this, epoch](const QByteArray& data) { onBinary(epoch, data); });
    // Text is not part of the protocol, but it shows the path works.
    QObject::connect(socket, &QWebSocket::textMessageReceived, this, [this, epoch] {
        if (!isCurrent(epoch))
            return;
        setConnected(true);
        m_reconnectAttempt = 0;
    });
    QObject::connect(socket, &QWebSocket::pong, this, [this, epoch] {
        if (isCurrent(epoch))
            m_awaitingPong = false;
    });
    socket->open(m_url);
    m_pingTimer.start(m_timing.pingInterval);
}

void RelayLink::reportFailure(quint64 epoch, QWebSocket* socket) {
    if (!isCurrent(epoch) || m_opened)
        return;
    QString reason;
    switch (socket->error()) {
    case QAbstractSocket::ConnectionRefusedError:
        reason = u"the connection to "_s + m_url.host() + u':' +
                 QString::number(m_url.port(m_url.scheme() == u"wss"_s ? 443 : 80)) +
                 u" was refused"_s;
        break;
    case QAbstractSocket::HostNotFoundError:
        reason = u"the name "_s + m_url.host() + u" does not resolve"_s;
        break;
    case QAbstractSocket::SslHandshakeFailedError:
        reason = u"its certificate was refused: "_s +
                 (m_sslErrors.isEmpty() ? socket->errorString() : m_sslErrors.join(u"; "_s));
        break;
    default: {
        // An HTTP answer other than the upgrade: Qt names its status.
        static const QRegularExpression status(u"status code: (\\d{3}) \\(([^)]*)\\)"_s);
        const QRegularExpressionMatch match = status.match(socket->errorString());
        reason = match.hasMatch() ? u"it answered HTTP "_s + match.captured(1) + u" ("_s +
                                        match.captured(2) + u")"_s
                                  : socket->errorString();
        break;
    }
    }
    reportFailureText(reason);
}

void RelayLink::reportFailureText(const QString& reason) {
    if (reason == m_lastFailure)
        return;
    m_lastFailure = reason;
    SyncLog::write(u"relay unreachable for "_s + m_peerName + u": "_s + reason);
    QMetaObject::invokeMethod(
        this, [this, reason] { Q_EMIT unreachable(reason); }, Qt::QueuedConnection);
}

void RelayLink::onOpened(quint64 epoch) {
    if (!isCurrent(epoch))
        return;
    m_opened = true;
    m_lastFailure.clear();
    setConnected(true);
    m_reconnectAttempt = 0;
    SyncLog::write(u"relay connected for "_s + m_peerName);
    const QList<QByteArray> queued = std::exchange(m_queued, {});
    m_queuedBytes = 0;
    for (const QByteArray& sealed : queued)
        m_socket->sendBinaryMessage(sealed);
}

void RelayLink::onBroken(quint64 epoch) {
    if (!isCurrent(epoch) || m_broken)
        return;
    m_broken = true;
    setConnected(false);
    if (m_opened) {
        const int code = m_closing ? m_socket->closeCode() : kAbnormalClosure;
        SyncLog::write(u"relay closed for "_s + m_peerName + u" (code "_s + QString::number(code) +
                       u')');
    }
    scheduleReconnect(epoch);
}

void RelayLink::onBinary(quint64 epoch, const QByteArray& data) {
    if (!isCurrent(epoch))
        return;
    setConnected(true);
    m_reconnectAttempt = 0;
    auto message = SyncMessage::open(data, m_sessionKey);
    if (!message)
        return; // sealed with another key, or not ours: the link stays up
    QMetaObject::invokeMethod(
        this,
        [this, delivered = std::move(*message)] {
            // A closed link's owner has moved on.
            if (!m_stopped && !m_draining)
                Q_EMIT messageReceived(delivered);
        },
        Qt::QueuedConnection);
}

void RelayLink::onPingTick() {
    if (m_stopped)
        return;
    const quint64 epoch = m_generation;
    const bool open = m_socket && m_socket->state() == QAbstractSocket::ConnectedState;
    // The last ping went unanswered, or the socket has still not opened: the
    // path is dead even if TCP has not noticed.
    if (m_awaitingPong || !open)
        scheduleReconnect(epoch);
    if (open) {
        m_awaitingPong = true;
        m_socket->ping();
    }
}

void RelayLink::scheduleReconnect(quint64 epoch) {
    if (!isCurrent(epoch) || m_reconnectPending)
        return;
    m_reconnectPending = true;
    m_reconnectEpoch = epoch;
    m_reconnectAttempt = std::min(m_reconnectAttempt + 1, kMaxAttempt);
    const int delay = backoffSeconds(m_reconnectAttempt);
    SyncLog::write(u"relay link to "_s + m_peerName + u" reconnecting in "_s +
                   QString::number(delay) + u's');
    m_reconnectTimer.start(backoffDelay(m_reconnectAttempt, m_timing.backoffUnit));
}

void RelayLink::send(const SyncMessage& message) {
    if (!m_socket)
        return;
    const auto sealed = stamped(message).seal(m_sessionKey);
    if (!sealed)
        return;
    const quint64 epoch = m_generation;
    switch (m_socket->state()) {
    case QAbstractSocket::ConnectedState:
        if (m_socket->bytesToWrite() + sealed->size() > kMaxPendingBytes ||
            m_socket->sendBinaryMessage(*sealed) < sealed->size())
            scheduleReconnect(epoch);
        break;
    case QAbstractSocket::HostLookupState:
    case QAbstractSocket::ConnectingState:
        if (m_queuedBytes + sealed->size() <= kMaxPendingBytes) {
            m_queued.append(*sealed);
            m_queuedBytes += sealed->size();
        }
        break;
    default:
        scheduleReconnect(epoch);
        break;
    }
}

void RelayLink::close() {
    m_stopped = true;
    ++m_generation;
    m_reconnectPending = false;
    m_reconnectTimer.stop();
    m_pingTimer.stop();
    m_queued.clear();
    m_queuedBytes = 0;
    retire(std::exchange(m_socket, nullptr));
    setConnected(false);
}

void RelayLink::closeAfterSending(std::chrono::milliseconds limit) {
    if (m_stopped)
        return;
    const auto drained = [this] {
        return m_queued.isEmpty() && (!m_socket || m_socket->bytesToWrite() == 0);
    };
    if (drained()) {
        close();
        return;
    }
    m_draining = true;
    QTimer::singleShot(limit, this, [this] { close(); });
    if (m_socket)
        QObject::connect(m_socket, &QWebSocket::bytesWritten, this, [this, drained] {
            if (drained())
                close();
        });
}

void RelayLink::setConnected(bool connected) {
    if (m_connected == connected)
        return;
    m_connected = connected;
    QMetaObject::invokeMethod(
        this, [this, connected] { Q_EMIT connectedChanged(connected); }, Qt::QueuedConnection);
}

void RelayLink::retire(QWebSocket* socket) {
    if (!socket)
        return;
    socket->disconnect(this);
    if (socket->state() == QAbstractSocket::UnconnectedState) {
        socket->deleteLater();
        return;
    }
    QObject::connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(kRetireGrace, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
    socket->close(QWebSocketProtocol::CloseCodeGoingAway);
}

void RelayLink::discard(RelayLink* link, const QObject* receiver) {
    link->disconnect(receiver);
    link->close();
    link->deleteLater();
}
