#include "core/sync/PairingLink.h"
#include "core/sync/LocalAddresses.h"

#include <QUrl>
#include <QUrlQuery>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <vector>

using namespace Qt::StringLiterals;

TEST(PairingLink, HasItsKeysInOrderAndOnlyWhenPairingIsOpen) {
    const QString code = u"7K0M1NP4Q"_s;
    const QStringList two{u"192.168.1.20"_s, u"10.0.0.5"_s};
    struct Case {
        const char* name;
        std::optional<QString> code;
        std::optional<quint16> port;
        QStringList hosts;
        bool relayEnabled;
        QString relay;
        std::optional<QString> link;
    };
    const Case cases[] = {
        {"no code", std::nullopt, 5000, two, false, {}, std::nullopt},
        {"no port", code, std::nullopt, two, false, {}, std::nullopt},
        {"port zero", code, 0, two, false, {}, std::nullopt},
        {"two hosts", code, 54321, two, false, u"wss://r.example"_s,
         u"tindrel://pair?code=7K0M1NP4Q&port=54321&hosts=192.168.1.20,10.0.0.5"_s},
        {"no hosts", code, 1, {}, false, {}, u"tindrel://pair?code=7K0M1NP4Q&port=1&hosts="_s},
        {"relay on but empty",
         code,
         65535,
         {},
         true,
         {},
         u"tindrel://pair?code=7K0M1NP4Q&port=65535&hosts="_s},
        {"relay", code, 80, two.mid(0, 1), true, u"wss://relay.example.org:8443/a_b-c~d?x=1&y=é"_s,
         u"tindrel://pair?code=7K0M1NP4Q&port=80&hosts=192.168.1.20&relay=wss%3A%2F%2F"
         "relay%2Eexample%2Eorg%3A8443%2Fa%5Fb%2Dc%7Ed%3Fx%3D1%26y%3D%C3%A9"_s},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PairingLink::make(c.code, c.port, c.hosts, c.relayEnabled, c.relay), c.link)
            << c.name;
}

TEST(PairingLink, RelayAddressSurvivesAUrlParser) {
    const QString relay = u"wss://relay.example.org/path?room=x&device=y#frag"_s;
    const auto link = PairingLink::make(u"ABC"_s, 4000, {}, true, relay);
    ASSERT_TRUE(link);
    const QUrlQuery query(QUrl(*link).query());
    QStringList keys;
    for (const auto& item : query.queryItems())
        keys.append(item.first);
    EXPECT_EQ(keys, (QStringList{u"code"_s, u"port"_s, u"hosts"_s, u"relay"_s}));
    EXPECT_EQ(query.queryItemValue(u"relay"_s, QUrl::FullyDecoded), relay);
}

namespace {
// Builds a getifaddrs-shaped list without touching the machine's interfaces.
class FakeInterfaces {
public:
    void add(const char* name, unsigned flags, const char* ipv4) {
        auto& e = m_entries.emplace_back();
        e.address.sin_family = AF_INET;
        inet_pton(AF_INET, ipv4, &e.address.sin_addr);
        e.entry.ifa_name = const_cast<char*>(name);
        e.entry.ifa_flags = flags;
        e.entry.ifa_addr = reinterpret_cast<sockaddr*>(&e.address);
    }
    void addWithFamily(const char* name, unsigned flags, sa_family_t family) {
        auto& e = m_entries.emplace_back();
        e.address.sin_family = family;
        e.entry.ifa_name = const_cast<char*>(name);
        e.entry.ifa_flags = flags;
        e.entry.ifa_addr = reinterpret_cast<sockaddr*>(&e.address);
    }
    void addWithoutAddress(const char* name) {
        auto& e = m_entries.emplace_back();
        e.entry.ifa_name = const_cast<char*>(name);
        e.entry.ifa_flags = IFF_UP;
    }
    const ifaddrs* list() {
        for (std::size_t i = 0; i < m_entries.size(); ++i) {
            m_entries[i].entry.ifa_addr = reinterpret_cast<sockaddr*>(&m_entries[i].address);
            if (m_entries[i].address.sin_family == 0)
                m_entries[i].entry.ifa_addr = nullptr;
            m_entries[i].entry.ifa_next =
                i + 1 < m_entries.size() ? &m_entries[i + 1].entry : nullptr;
        }
        return m_entries.empty() ? nullptr : &m_entries.front().entry;
    }

private:
    struct Entry {
        ifaddrs entry{};
        sockaddr_in address{};
    };
    std::vector<Entry> m_entries;
};
} // namespace

TEST(LocalAddresses, KeepsOnlyDialableIPv4AddressesOnceInOrder) {
    FakeInterfaces interfaces;
    interfaces.addWithoutAddress("tun0");
    interfaces.add("lo", IFF_UP | IFF_LOOPBACK, "127.0.0.1");
    interfaces.add("eth0", IFF_UP | IFF_RUNNING, "192.168.1.20");
    interfaces.add("wlan0", 0, "10.0.0.7"); // down
    interfaces.add("eth1", IFF_UP, "169.254.3.4");
    interfaces.addWithFamily("eth0", IFF_UP, AF_INET6);
    interfaces.add("eth0", IFF_UP, "192.168.1.20"); // an alias of the same address
    interfaces.add("docker0", IFF_UP, "172.17.0.1");
    interfaces.add("eth2", IFF_UP, "169.25.4.1"); // looks close, but not link-local
    EXPECT_EQ(LocalAddresses::ipv4From(interfaces.list()),
              (QStringList{u"192.168.1.20"_s, u"172.17.0.1"_s, u"169.25.4.1"_s}));
    EXPECT_TRUE(LocalAddresses::ipv4From(nullptr).isEmpty());

    for (const QString& address : LocalAddresses::ipv4()) {
        EXPECT_FALSE(address.startsWith(QLatin1String("127."))) << address.toStdString();
        EXPECT_FALSE(address.startsWith(QLatin1String("169.254."))) << address.toStdString();
    }
}
