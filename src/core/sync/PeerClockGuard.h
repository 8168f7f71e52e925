#pragma once

#include "core/sync/SyncPinPayload.h"
#include "core/sync/SyncUnpinPayload.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

// Keeps a device whose clock runs far ahead from stamping our pins. Pins
// and unpins merge by their times, latest wins: an unpin stamped ten years
// ahead would beat everything a device with a right clock does for ten
// years, and our own later pins and unpins would be stamped after it and
// carry it on to every other device.
//
// A received time more than `allowance` after our clock is taken as our
// time at its first arrival. The same stamp arriving again keeps that
// meaning, so a pin the user makes after it still wins here whenever that
// device sends its snapshot again. The first such time from each device is
// logged once.
class PeerClockGuard {
public:
    static constexpr double allowance = 24 * 60 * 60.0;
    // Stamps remembered per device; a snapshot holds about this many.
    static constexpr qsizetype maxStampsPerPeer = 1024;
    static constexpr qsizetype maxPeers = 128;

    // The time to use for `sent` from `peerId` at `now` (seconds since 1970).
    double admit(const QString& peerId, const QString& peerName, double sent, double now);
    void admit(const QString& peerId, const QString& peerName, QList<SyncPinPayload>& pins,
               QList<SyncUnpinPayload>& unpinned, double now);
    // Whether a clip's time is that far ahead; logged like a stamp, but not
    // remembered (a clip's time is used by nothing after its arrival).
    bool isAhead(const QString& peerId, const QString& peerName, double sent, double now);

private:
    struct Peer {
        QHash<double, double> taken; // sent -> time used
        QList<double> order;         // oldest first, for forgetting
    };
    QHash<QString, Peer> m_peers;
    QSet<QString> m_logged;
};
