#include "core/sync/SyncConnection.h"

#include "core/sync/SyncCrypto.h"
#include "core/sync/SyncLog.h"
#include "core/sync/TcpKeepAlive.h"

#include <QTcpSocket>
#include <QtEndian>

using namespace Qt::StringLiterals;

namespace {
constexpr qsizetype kLengthPrefix = 4;
// Reads are taken in pieces of at most this size, as the frame drain expects.
constexpr qint64 kReadChunk = 65'536;
} // namespace

SyncConnection::SyncConnection(Role role, QList<CandidateKey> candidateKeys, QObject* parent)
    : PeerLink(parent), m_role(role), m_candidates(std::move(candidateKeys)) {
    m_connectTimer.setSingleShot(true);
    m_unboundTimer.setSingleShot(true);
    connect(&m_connectTimer, &QTimer::timeout, this, [this] { finish(Ending::abort); });
    connect(&m_unboundTimer, &QTimer::timeout, this, [this] { finish(Ending::abort); });
}

SyncConnection::SyncConnection(QTcpSocket* socket, Role role, QList<CandidateKey> candidateKeys,
                               QObject* parent)
    : SyncConnection(role, std::move(candidateKeys), parent) {
    m_peerAddress = socket->peerAddress();
    attach(socket);
}

SyncConnection::SyncConnection(const SyncEndpoint& endpoint, QList<CandidateKey> candidateKeys,
                               QObject* parent)
    : SyncConnection(Role::outbound, std::move(candidateKeys), parent) {
    m_endpoint = endpoint;
    attach(new QTcpSocket(this));
}

SyncConnection::SyncConnection(const SyncEndpoint& endpoint, const QString& peerId,
                               const QString& peerName, const QByteArray& sessionKey,
                               QObject* parent)
    : SyncConnection(endpoint, {CandidateKey{peerId, sessionKey}}, parent) {
    m_peerId = peerId;
    m_peerName = peerName;
    m_boundKey = sessionKey;
}

SyncConnection::~SyncConnection() {
    // Dropped by its owner while open: the socket dies with us.
    if (m_socket)
        m_socket->disconnect(this);
}

void SyncConnection::attach(QTcpSocket* socket) {
    m_socket = socket;
    socket->setParent(this);
    socket->setReadBufferSize(kReadChunk);
    connect(socket, &QTcpSocket::connected, this, &SyncConnection::onConnected);
    connect(socket, &QTcpSocket::readyRead, this, &SyncConnection::readAvailable);
    connect(socket, &QTcpSocket::disconnected, this, &SyncConnection::onSocketGone);
    connect(socket, &QTcpSocket::errorOccurred, this, &SyncConnection::onSocketGone);
}

bool SyncConnection::setBoundKey(const QByteArray& key) {
    if (m_boundKey)
        return false;
    m_boundKey = key;
    return true;
}

void SyncConnection::start() {
    if (m_started || m_closed)
        return;
    m_started = true;
    if (!m_boundKey)
        m_unboundTimer.start(m_limits.unboundTimeout);
    if (m_endpoint) {
        m_connectTimer.start(m_limits.connectTimeout);
        m_socket->connectToHost(m_endpoint->address, m_endpoint->port);
        return;
    }
    if (m_socket->state() != QAbstractSocket::ConnectedState) {
        // Accepted, but already gone.
        QMetaObject::invokeMethod(this, &SyncConnection::onSocketGone, Qt::QueuedConnection);
        return;
    }
    TcpKeepAlive::apply(*m_socket);
    // Bytes may have arrived before we were wired up; no readyRead follows for them.
    QMetaObject::invokeMethod(this, &SyncConnection::readAvailable, Qt::QueuedConnection);
}

void SyncConnection::onConnected() {
    m_connectTimer.stop();
    TcpKeepAlive::apply(*m_socket);
}

void SyncConnection::onSocketGone() {
    if (m_closed)
        return;
    // Whatever the peer sent before it went is still delivered.
    readAvailable();
    finish(Ending::graceful);
}

void SyncConnection::readAvailable() {
    if (m_closed || !m_socket)
        return;
    while (!m_closed && m_socket->bytesAvailable() > 0) {
        m_buffer += m_socket->read(kReadChunk);
        drain();
    }
}

void SyncConnection::drain() {
    qsizetype offset = 0;
    while (!m_closed) {
        if (m_buffer.size() - offset < kLengthPrefix)
            break;
        const quint32 length = qFromBigEndian<quint32>(m_buffer.constData() + offset);
        // Decided on the prefix alone, before any of the body is buffered.
        const qint64 limit =
            m_boundKey ? SyncCrypto::maxSealedSize
                       : std::min<qint64>(SyncCrypto::maxSealedSize, m_limits.maxUnboundFrameBytes);
        if (length > limit) {
            finish(Ending::graceful);
            return;
        }
        if (m_buffer.size() - offset < kLengthPrefix + qsizetype(length))
            break;
        const QByteArray body = m_buffer.mid(offset + kLengthPrefix, length);
        offset += kLengthPrefix + length;
        handleFrame(body);
    }
    if (m_closed)
        m_buffer.clear();
    else
        m_buffer.remove(0, offset);
}

void SyncConnection::handleFrame(const QByteArray& body) {
    if (m_boundKey) {
        const auto message = SyncMessage::open(body, *m_boundKey);
        if (!message) {
            SyncLog::write(u"frame failed to decrypt after key was bound — dropping connection"_s);
            finish(Ending::graceful);
            return;
        }
        deliver(*message);
        return;
    }
    for (const CandidateKey& candidate : std::as_const(m_candidates)) {
        const auto message = SyncMessage::open(body, candidate.key);
        if (!message)
            continue;
        m_unboundTimer.stop();
        m_boundKey = candidate.key;
        m_peerId = candidate.peerId ? candidate.peerId : message->deviceId;
        m_isPairing = !candidate.peerId.has_value();
        deliver(*message);
        return;
    }
    SyncLog::write(u"could not decrypt a "_s + QString::number(body.size()) +
                   u"-byte frame with any of "_s + QString::number(m_candidates.size()) +
                   u" key(s) — wrong pairing code, or this device is not paired"_s);
    finish(Ending::graceful);
}

void SyncConnection::deliver(const SyncMessage& message) {
    QMetaObject::invokeMethod(
        this, [this, message] { Q_EMIT messageReceived(message); }, Qt::QueuedConnection);
}

void SyncConnection::send(const SyncMessage& message, const std::optional<QByteArray>& key) {
    if (m_closed || !m_started)
        return;
    const std::optional<QByteArray>& useKey = key ? key : m_boundKey;
    if (!useKey)
        return;
    const auto sealed = stamped(message).seal(*useKey);
    if (!sealed)
        return;
    QByteArray frame(kLengthPrefix, Qt::Uninitialized);
    qToBigEndian<quint32>(static_cast<quint32>(sealed->size()), frame.data());
    frame += *sealed;
    if (m_socket->write(frame) != frame.size()) {
        finish(Ending::abort);
        return;
    }
    if (m_socket->bytesToWrite() > m_limits.maxPendingSendBytes) {
        // Qt only writes when the event loop runs; hand the kernel what it takes
        // before deciding the peer is not reading.
        m_socket->flush();
        if (m_socket->bytesToWrite() > m_limits.maxPendingSendBytes) {
            const QString who = m_peerName ? *m_peerName
                                : m_peerId
                                    ? *m_peerId
                                    : (m_endpoint ? m_endpoint->address : m_peerAddress).toString();
            SyncLog::write(u"closed the connection to "_s + who + u" — "_s +
                           QString::number(m_socket->bytesToWrite()) +
                           u" bytes waited to be sent; it has stopped reading"_s);
            finish(Ending::abort);
        }
    }
}

void SyncConnection::close() {
    finish(Ending::graceful);
}

void SyncConnection::finish(Ending ending) {
    if (m_closed)
        return;
    m_closed = true;
    m_connectTimer.stop();
    m_unboundTimer.stop();
    if (QTcpSocket* socket = std::exchange(m_socket, nullptr)) {
        socket->disconnect(this);
        // The socket outlives us until the peer has the rest (or the linger
        // runs out), so an owner deleting us in onClose loses nothing. It
        // goes with our owner all the same: at quit no event loop is left to
        // run its linger, and it would never be freed.
        socket->setParent(parent());
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(m_limits.closeLinger, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
        // While still connecting, Qt closes right after the connection is made
        // and what was written has gone out.
        if (ending == Ending::abort)
            socket->abort();
        else
            socket->disconnectFromHost();
        if (socket->state() == QAbstractSocket::UnconnectedState)
            socket->deleteLater();
    }
    QMetaObject::invokeMethod(this, &SyncConnection::closed, Qt::QueuedConnection);
}
