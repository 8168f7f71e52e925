#pragma once

#include <QHostAddress>

// Where a discovered device listens. An IPv6 link-local address carries its
// interface as scope id.
struct SyncEndpoint {
    QHostAddress address;
    quint16 port = 0;
};
