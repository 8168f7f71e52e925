#pragma once

#include "platform/ServiceDiscovery.h"

// Stands in for DNS-SD where no implementation is built in: sync then says
// that devices on the network cannot find this one, and its listener and
// relay links work as ever.
class NoServiceDiscovery final : public ServiceDiscovery {
public:
    bool isAvailable() const override { return false; }
    void publish(const QString&, const QString&, quint16, const Txt&) override {}
    void unpublish() override {}
    void browse(const QString&) override {}
    void stopBrowsing() override {}
};
