#include "core/sync/LocalAddresses.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

QStringList LocalAddresses::ipv4From(const ifaddrs* interfaces) {
    QStringList addresses;
    for (const ifaddrs* entry = interfaces; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET)
            continue;
        if (!(entry->ifa_flags & IFF_UP) || (entry->ifa_flags & IFF_LOOPBACK))
            continue;
        char host[NI_MAXHOST];
        if (getnameinfo(entry->ifa_addr, sizeof(sockaddr_in), host, sizeof host, nullptr, 0,
                        NI_NUMERICHOST) != 0)
            continue;
        const QString address = QString::fromLatin1(host);
        if (address.startsWith(QLatin1StringView("169.254.")) || addresses.contains(address))
            continue;
        addresses.append(address);
    }
    return addresses;
}

QStringList LocalAddresses::ipv4() {
    ifaddrs* interfaces = nullptr;
    if (getifaddrs(&interfaces) != 0)
        return {};
    const QStringList addresses = ipv4From(interfaces);
    freeifaddrs(interfaces);
    return addresses;
}
