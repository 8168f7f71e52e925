#pragma once

#include <QHostAddress>
#include <QList>

// Who of the callers that have not shown a key yet has to go so that one more
// fits. Each remote address (an IPv6 /64 counts as one) gets a small share,
// and when every slot is taken the oldest caller makes room: a flood from
// one address only pushes out its own sockets, and one from many addresses
// cannot keep a newcomer out, since whoever shows a paired key in its first
// frame leaves the waiting callers at once.
class InboundAdmission {
public:
    struct Limits {
        qsizetype total = 16;
        qsizetype perAddress = 4;
    };

    // The address a caller is counted under.
    static QHostAddress group(const QHostAddress& address);

    // Indexes into `waiting` (the waiting callers' addresses, oldest first)
    // to close before a caller from `address` is let in, oldest first.
    static QList<qsizetype> evictions(const QList<QHostAddress>& waiting,
                                      const QHostAddress& address, Limits limits);
};
