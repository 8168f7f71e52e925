#pragma once

#include "core/util/Instant.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>
#include <optional>

// Whether a relay ping is answered with our device list and pins. Anyone in
// the room can replay an old ping as often as it likes, and each answer is
// far larger than the ping; so a link gets our state for a ping at most once
// a minute, and only when it differs from what the last answer held.
class RelayStateGate {
public:
    static constexpr double minIntervalSeconds = 60.0;

    struct Decision {
        bool answer = false;
        // Changed, but answered too lately: try again after this many seconds.
        std::optional<double> retryAfter;
    };

    // For a ping; an answer it allows counts as sent.
    Decision decide(const QString& peerId, const QByteArray& fingerprint, Instant now);
    // True for the first deferral while none is waiting for this peer, so
    // that replayed pings never pile up timers.
    bool defer(const QString& peerId) {
        const bool first = !m_deferred.contains(peerId);
        m_deferred.insert(peerId);
        return first;
    }
    // The deferred answer is due.
    void undefer(const QString& peerId) { m_deferred.remove(peerId); }
    void forget(const QString& peerId) {
        m_last.remove(peerId);
        m_deferred.remove(peerId);
    }
    void clear() {
        m_last.clear();
        m_deferred.clear();
    }

private:
    struct Last {
        QByteArray fingerprint;
        Instant at;
    };
    QHash<QString, Last> m_last;
    QSet<QString> m_deferred;
};
