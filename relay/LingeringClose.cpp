#include "LingeringClose.h"

#include <QSocketNotifier>
#include <QTcpSocket>
#include <QTimer>
#include <cerrno>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// Past this much unread input the client is not winding down; give up on it.
constexpr qint64 kMaxDiscardBytes = 4 * 1'048'576;
} // namespace

bool LingeringClose::begin(QTcpSocket* socket, QObject* owner, std::chrono::milliseconds grace) {
    if (s_count >= kMaxLingering || socket->state() != QAbstractSocket::ConnectedState)
        return false;
    const int fd = ::fcntl(static_cast<int>(socket->socketDescriptor()), F_DUPFD_CLOEXEC, 0);
    if (fd < 0)
        return false;
    auto* linger = new LingeringClose(fd, owner, grace);
    // Qt closes its descriptor once everything it buffered is written.
    connect(socket, &QAbstractSocket::disconnected, linger, &LingeringClose::start);
    connect(socket, &QObject::destroyed, linger, &LingeringClose::start);
    return true;
}

LingeringClose::LingeringClose(int fd, QObject* owner, std::chrono::milliseconds grace)
    : QObject(owner), m_fd(fd), m_grace(grace) {
    ++s_count;
    // Should Qt never let go of the socket, do not hold the descriptor forever.
    QTimer::singleShot(4 * grace, this, &LingeringClose::finish);
}

LingeringClose::~LingeringClose() {
    if (m_fd >= 0)
        ::close(m_fd);
    --s_count;
}

void LingeringClose::start() {
    if (m_started || m_fd < 0)
        return;
    m_started = true;
    ::shutdown(m_fd, SHUT_WR);
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &LingeringClose::drain);
    QTimer::singleShot(m_grace, this, &LingeringClose::finish);
    drain();
}

void LingeringClose::drain() {
    char sink[16384];
    while (m_fd >= 0) {
        const ssize_t n = ::recv(m_fd, sink, sizeof sink, MSG_DONTWAIT);
        if (n > 0) {
            m_discarded += n;
            if (m_discarded > kMaxDiscardBytes)
                return finish();
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            return;
        return finish(); // the client closed too, or the connection failed
    }
}

void LingeringClose::finish() {
    if (m_notifier)
        m_notifier->setEnabled(false);
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    deleteLater();
}
