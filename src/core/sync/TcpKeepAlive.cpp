#include "core/sync/TcpKeepAlive.h"

#include <QAbstractSocket>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

bool TcpKeepAlive::apply(QAbstractSocket& socket) {
    const qintptr descriptor = socket.socketDescriptor();
    if (descriptor < 0)
        return false;
    const int fd = static_cast<int>(descriptor);
    const auto set = [fd](int level, int name, int value) {
        return setsockopt(fd, level, name, &value, sizeof value) == 0;
    };
    // Small frames are the common case; do not let Nagle hold them back.
    const bool noDelay = set(IPPROTO_TCP, TCP_NODELAY, 1);
    return set(SOL_SOCKET, SO_KEEPALIVE, 1) && set(IPPROTO_TCP, TCP_KEEPIDLE, idleSeconds) &&
           set(IPPROTO_TCP, TCP_KEEPINTVL, intervalSeconds) &&
           set(IPPROTO_TCP, TCP_KEEPCNT, probeCount) && noDelay;
}
