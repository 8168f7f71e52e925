#include "core/sync/InboundAdmission.h"

#include <QSet>

QHostAddress InboundAdmission::group(const QHostAddress& address) {
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    if (isV4)
        return QHostAddress(v4);
    if (address.protocol() != QAbstractSocket::IPv6Protocol)
        return address;
    // One host usually holds a whole /64, so its addresses share one slot.
    Q_IPV6ADDR bytes = address.toIPv6Address();
    for (int i = 8; i < 16; ++i)
        bytes[i] = 0;
    return QHostAddress(bytes);
}

QList<qsizetype> InboundAdmission::evictions(const QList<QHostAddress>& waiting,
                                             const QHostAddress& address, Limits limits) {
    const QHostAddress own = group(address);
    QList<qsizetype> out;
    QSet<qsizetype> gone;
    qsizetype sameAddress = 0;
    for (const QHostAddress& other : waiting)
        if (group(other) == own)
            ++sameAddress;
    // Over its share, the address makes room from its own oldest sockets.
    for (qsizetype i = 0;
         i < waiting.size() && sameAddress >= std::max<qsizetype>(limits.perAddress, 1); ++i) {
        if (group(waiting.at(i)) != own)
            continue;
        out.append(i);
        gone.insert(i);
        --sameAddress;
    }
    // Still full: the oldest caller of all goes.
    qsizetype left = waiting.size() - out.size();
    for (qsizetype i = 0; i < waiting.size() && left >= std::max<qsizetype>(limits.total, 1); ++i) {
        if (gone.contains(i))
            continue;
        out.append(i);
        --left;
    }
    std::sort(out.begin(), out.end());
    return out;
}
