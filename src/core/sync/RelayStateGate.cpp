#include "core/sync/RelayStateGate.h"

RelayStateGate::Decision RelayStateGate::decide(const QString& peerId,
                                                const QByteArray& fingerprint, Instant now) {
    const auto it = m_last.constFind(peerId);
    if (it != m_last.cend()) {
        if (it->fingerprint == fingerprint)
            return {};
        const Instant due = it->at.plus(minIntervalSeconds);
        // A clock set back does not hold answers up until it catches up.
        if (now >= it->at && now < due)
            return {false, due.sinceReference - now.sinceReference};
    }
    m_last.insert(peerId, {fingerprint, now});
    return {true, std::nullopt};
}
