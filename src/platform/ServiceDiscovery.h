#pragma once

#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QString>
#include <functional>

// DNS-SD on the local network: publishing one service of ours and following
// the services of one type that others publish. Everything is asynchronous and
// reported on the main thread; no call blocks.
class ServiceDiscovery {
public:
    using Txt = QMap<QString, QString>;

    struct Service {
        // The instance name as published ("Anna's laptop").
        QString name;
        Txt txt;
        // Resolved addresses, IPv4 first; an IPv6 link-local address carries
        // its interface as scope id. Never empty in a reported service.
        QList<QHostAddress> addresses;
        quint16 port = 0;
    };

    virtual ~ServiceDiscovery() = default;

    // Whether the discovery daemon answers right now.
    virtual bool isAvailable() const = 0;

    // Publishes one service; replaces what was published before. The name may
    // change on a collision: onPublished reports the name that holds.
    virtual void publish(const QString& type, const QString& name, quint16 port,
                         const Txt& txt) = 0;
    virtual void unpublish() = 0;

    // Follows the services of a type; onServicesChanged gets the whole current
    // set (our own service included) after every change.
    virtual void browse(const QString& type) = 0;
    virtual void stopBrowsing() = 0;

    std::function<void(const QList<Service>& services)> onServicesChanged;
    std::function<void(const QString& name)> onPublished;
    // Publishing failed for good (not a rename), with the daemon's reason.
    std::function<void(const QString& error)> onPublishFailed;
    // The daemon went away or came back. While it is away nothing is
    // published or browsed; when it returns, what was asked for resumes.
    std::function<void(bool available)> onAvailabilityChanged;
};
