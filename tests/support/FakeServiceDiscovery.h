#pragma once

#include "platform/ServiceDiscovery.h"

#include <optional>

// DNS-SD in memory: records what was published and browsed; the test
// announces services and plays the daemon coming and going.
class FakeServiceDiscovery final : public ServiceDiscovery {
public:
    struct Published {
        QString type;
        QString name;
        quint16 port = 0;
        Txt txt;
    };

    bool isAvailable() const override { return available; }
    void publish(const QString& type, const QString& name, quint16 port, const Txt& txt) override {
        published = Published{type, name, port, txt};
        if (available && confirmPublishing && onPublished)
            onPublished(renameTo.isEmpty() ? name : renameTo);
    }
    void unpublish() override { published.reset(); }
    void browse(const QString& type) override { browsedType = type; }
    void stopBrowsing() override { browsedType.reset(); }

    // Reports this set as the current browse result.
    void announce(const QList<Service>& services) {
        if (onServicesChanged)
            onServicesChanged(services);
    }
    void setAvailable(bool now) {
        available = now;
        if (onAvailabilityChanged)
            onAvailabilityChanged(now);
    }

    bool available = true;
    bool confirmPublishing = true;
    // The name the daemon settles on after a collision; empty: as asked.
    QString renameTo;
    std::optional<Published> published;
    std::optional<QString> browsedType;
};
