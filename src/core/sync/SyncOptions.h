#pragma once

#include "core/sync/RelayLink.h"
#include "core/sync/RelayProbe.h"
#include "core/sync/SyncConnection.h"

#include <QHostAddress>
#include <QString>
#include <chrono>

// How sync listens, dials and waits; tests shorten the times.
struct SyncOptions {
    // The port we listen on when it is free, so that a firewall rule can
    // name it; any free port otherwise (peers learn it through DNS-SD).
    static constexpr quint16 preferredPort = 51785;

    QHostAddress listenAddress = QHostAddress::Any;
    quint16 port = preferredPort;
    std::chrono::milliseconds keepAlive{25'000};
    // An outbound connection that gets no hello back in this time is dead.
    std::chrono::milliseconds helloTimeout{15'000};
    SyncConnection::Limits connectionLimits;
    RelayLink::Timing relayTiming;
    RelayProbe::Timing relayProbeTiming;
    // Where the memory of received clips survives a restart; empty keeps
    // it for this run only.
    QString receivedClipsPath;
    // Where the copies kept for devices that were away survive a restart;
    // empty keeps them for this run only.
    QString outboxPath;
};
