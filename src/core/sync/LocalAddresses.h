#pragma once

#include <QStringList>

struct ifaddrs;

// This machine's IPv4 addresses as another device on the network could
// dial them: interfaces that are up, not loopback, not link-local
// (169.254.x.x), each address once, in the system's order.
namespace LocalAddresses {
QStringList ipv4();
// The same selection over a given interface list (getifaddrs' shape).
QStringList ipv4From(const ifaddrs* interfaces);
} // namespace LocalAddresses
