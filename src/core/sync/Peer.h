#pragma once

#include "core/sync/PeerLink.h"
#include "core/sync/SyncMessage.h"
#include "core/util/Instant.h"

#include <QHash>
#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

// One paired device while sync runs: the links that reach it, best first,
// and what it told us it speaks. Every message to it goes over the best
// link that works, so the relay carries nothing for a device that is
// reachable directly.
class Peer {
public:
    explicit Peer(QString id) : m_id(std::move(id)) {}

    const QString& id() const { return m_id; }

    // The protocol version the device announced (1 for a hello without
    // one); nothing until it said.
    std::optional<qint64> protocol() const { return m_protocol; }
    void setProtocol(qint64 protocol) { m_protocol = protocol; }
    // Protocol-4 features both sides named in their hello.
    const QStringList& capabilities() const { return m_capabilities; }
    void setCapabilities(QStringList capabilities) { m_capabilities = std::move(capabilities); }
    bool can(const QString& capability) const { return m_capabilities.contains(capability); }
    // At least `version`; a device that has not said counts as protocol 3,
    // which is what a device reached only through the relay has always been
    // sent.
    bool speaks(qint64 version) const { return m_protocol.value_or(3) >= version; }

    // When we last had contact before this run's first link to it: what it
    // may have missed of ours began then.
    const std::optional<Instant>& lastSeenBefore() const { return m_lastSeenBefore; }
    void setLastSeenBefore(std::optional<Instant> at) { m_lastSeenBefore = at; }

    void attach(PeerLink* link);
    void detach(PeerLink* link);
    // The best link that works now, or none.
    PeerLink* bestLink() const;
    bool isReachableWithout(const PeerLink* link) const;
    // Over the best link; false when none works.
    bool send(const SyncMessage& message) const;

private:
    QString m_id;
    std::optional<qint64> m_protocol;
    QStringList m_capabilities;
    std::optional<Instant> m_lastSeenBefore;
    QList<QPointer<PeerLink>> m_links;
};

// The devices sync is in touch with, by id.
using Peers = QHash<QString, std::shared_ptr<Peer>>;
