#include "RelayListener.h"

#include <QSocketNotifier>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace {

// Connections taken per wake-up, so a burst does not hold up the rest of the
// event loop; the socket stays readable and we come back for the others.
constexpr int kAcceptsPerTurn = 64;

QString systemError(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// Errors of one pending connection, not of the listening socket: that
// connection is gone and the next one may be fine (see accept(2)).
bool isConnectionError(int error) {
    switch (error) {
    case EINTR:
    case ECONNABORTED:
    case EPROTO:
    case ENOPROTOOPT:
    case EPERM:
    case ENETDOWN:
    case ENETUNREACH:
    case EHOSTDOWN:
    case EHOSTUNREACH:
    case ENONET:
    case EOPNOTSUPP:
        return true;
    default:
        return false;
    }
}

} // namespace

RelayListener::RelayListener(std::optional<QSslConfiguration> ssl, QObject* parent)
    : QObject(parent), m_ssl(std::move(ssl)) {}

RelayListener::~RelayListener() {
    close();
}

void RelayListener::close() {
    delete m_notifier;
    m_notifier = nullptr;
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool RelayListener::listen(const QHostAddress& address, quint16 port) {
    sockaddr_storage storage{};
    socklen_t length = 0;
    if (address.protocol() == QAbstractSocket::IPv4Protocol) {
        auto* in = reinterpret_cast<sockaddr_in*>(&storage);
        in->sin_family = AF_INET;
        in->sin_port = htons(port);
        in->sin_addr.s_addr = htonl(address.toIPv4Address());
        length = sizeof(sockaddr_in);
    } else {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&storage);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&in6->sin6_addr, bytes.c, sizeof bytes.c);
        length = sizeof(sockaddr_in6);
    }

    m_fd = ::socket(storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_fd < 0) {
        m_error = systemError(errno);
        return false;
    }
    // A restarted relay must not wait for its old connections' TIME_WAIT.
    const int on = 1;
    ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(m_fd, reinterpret_cast<const sockaddr*>(&storage), length) != 0 ||
        ::listen(m_fd, SOMAXCONN) != 0) {
        m_error = systemError(errno);
        ::close(m_fd);
        m_fd = -1;
        return false;
    }
    sockaddr_storage bound{};
    socklen_t boundLength = sizeof bound;
    ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&bound), &boundLength);
    m_port = ntohs(bound.ss_family == AF_INET
                       ? reinterpret_cast<const sockaddr_in*>(&bound)->sin_port
                       : reinterpret_cast<const sockaddr_in6*>(&bound)->sin6_port);

    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read);
    connect(m_notifier, &QSocketNotifier::activated, this, &RelayListener::acceptAll);
    return true;
}

void RelayListener::acceptAll() {
    for (int attempt = 0; attempt < kAcceptsPerTurn; ++attempt) {
        const int descriptor = ::accept4(m_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (descriptor >= 0) {
            if (std::exchange(m_failing, false))
                Q_EMIT acceptRecovered();
            adopt(descriptor);
            continue;
        }
        const int error = errno;
        if (error == EAGAIN || error == EWOULDBLOCK)
            return;
        if (isConnectionError(error))
            continue;
        // Out of descriptors or memory, most likely. The socket stays
        // readable, so retrying at once would spin; wait for some to free up.
        m_notifier->setEnabled(false);
        QTimer::singleShot(m_retryInterval, this, [this] {
            if (m_notifier)
                m_notifier->setEnabled(true);
        });
        if (!std::exchange(m_failing, true))
            Q_EMIT acceptFailing(systemError(error));
        return;
    }
}

void RelayListener::adopt(int descriptor) {
    QTcpSocket* socket = m_ssl ? new QSslSocket(this) : new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        ::close(descriptor);
        return;
    }
    if (auto* ssl = qobject_cast<QSslSocket*>(socket))
        ssl->setSslConfiguration(*m_ssl);
    Q_EMIT accepted(socket);
}
