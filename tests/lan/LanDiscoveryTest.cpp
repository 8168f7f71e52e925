#include "LanDevice.h"

#include <QJsonObject>
#include <QRegularExpression>
#include <algorithm>
#include <gtest/gtest.h>

// Devices 1-3 of the sandbox; each has its own avahi-daemon on a shared link
// (169.254.77.<device> and an fe80:: address on interface tdl0).

namespace {

class LanDiscovery : public ::testing::Test {
protected:
    void SetUp() override {
        if (const QString reason = LanDevice::unavailableReason(); !reason.isEmpty())
            GTEST_SKIP() << reason.toStdString();
    }
};

QJsonObject service(const QJsonArray& services, const QString& name) {
    for (const auto& value : services) {
        if (value.toObject().value(QStringLiteral("name")).toString() == name)
            return value.toObject();
    }
    return {};
}

bool has(const QJsonArray& services, const QString& name) {
    return !service(services, name).isEmpty();
}

QStringList addresses(const QJsonObject& service) {
    QStringList out;
    for (const auto& value : service.value(QStringLiteral("addresses")).toArray())
        out.append(value.toString());
    return out;
}

bool hasBothFamilies(const QJsonObject& service) {
    const QStringList all = addresses(service);
    return std::ranges::any_of(all, [](const QString& a) { return !a.contains(u':'); }) &&
           std::ranges::any_of(all, [](const QString& a) { return a.contains(u':'); });
}

// avahi-browse -p writes names and TXT with bytes outside printable ASCII,
// and its separators, as \DDD (decimal).
QString unescapeAvahi(const QString& text) {
    QByteArray out;
    const QByteArray in = text.toUtf8();
    for (qsizetype i = 0; i < in.size(); ++i) {
        const auto digit = [&](qsizetype at) {
            return at < in.size() && in[at] >= '0' && in[at] <= '9';
        };
        if (in[i] == '\\' && digit(i + 1) && digit(i + 2) && digit(i + 3)) {
            out.append(static_cast<char>(in.mid(i + 1, 3).toInt()));
            i += 3;
        } else {
            out.append(in[i]);
        }
    }
    return QString::fromUtf8(out);
}

const QString kType = QStringLiteral("_tindrel._tcp");

} // namespace

TEST_F(LanDiscovery, AnotherDeviceSeesTheServiceWithItsTxtAndReachesIt) {
    const QString name = QStringLiteral("Zoë’s laptop");
    LanDevice publisher(1, {QStringLiteral("--publish"), name, QStringLiteral("--txt"),
                            QStringLiteral("did=DEV-ONE"), QStringLiteral("--txt"),
                            QStringLiteral("dn=") + name, QStringLiteral("--txt"),
                            QStringLiteral("pl=linux"), QStringLiteral("--txt"),
                            QStringLiteral("pr=0"), QStringLiteral("--browse")});
    const int port = publisher.port();
    ASSERT_GT(port, 0) << publisher.transcript().toStdString();
    ASSERT_EQ(publisher.next(QStringLiteral("published ")), name)
        << publisher.transcript().toStdString();

    LanDevice browser(2, {QStringLiteral("--browse")});
    const auto seen = browser.nextServices(
        [&](const QJsonArray& set) { return hasBothFamilies(service(set, name)); });
    ASSERT_TRUE(seen) << browser.transcript().toStdString();
    const QJsonObject found = service(*seen, name);
    EXPECT_EQ(found.value(QStringLiteral("port")).toInt(), port);
    EXPECT_EQ(found.value(QStringLiteral("txt")).toObject(),
              (QJsonObject{{QStringLiteral("did"), QStringLiteral("DEV-ONE")},
                           {QStringLiteral("dn"), name},
                           {QStringLiteral("pl"), QStringLiteral("linux")},
                           {QStringLiteral("pr"), QStringLiteral("0")}}));

    // IPv4 first; the IPv6 link-local address names the link it is on.
    const QStringList all = addresses(found);
    ASSERT_FALSE(all.isEmpty());
    EXPECT_EQ(all.first(), QStringLiteral("169.254.77.1"));
    const auto linkLocal = std::ranges::find_if(
        all, [](const QString& a) { return a.startsWith(QLatin1String("fe80:")); });
    ASSERT_NE(linkLocal, all.end()) << all.join(u' ').toStdString();
    EXPECT_TRUE(linkLocal->endsWith(QLatin1String("%tdl0"))) << linkLocal->toStdString();

    // Every address reported is one the other device can dial.
    for (const QString& address : all) {
        SCOPED_TRACE(address.toStdString());
        EXPECT_EQ(LanDevice::probe(2, address, port), QStringLiteral("hello from ") + name);
    }

    // The publisher's own browser lists its own service too.
    EXPECT_TRUE(publisher.nextServices([&](const QJsonArray& set) { return has(set, name); }))
        << publisher.transcript().toStdString();

    // And Avahi's own tools see exactly what we published.
    const auto listing =
        LanDevice::run(2, {QStringLiteral("avahi-browse"), QStringLiteral("-rpt"), kType});
    ASSERT_TRUE(listing);
    bool confirmed = false;
    for (const QString& line : listing->split(u'\n')) {
        // =;iface;proto;name;type;domain;host;address;port;txt
        const QStringList f = line.split(u';');
        if (f.size() < 10 || f[0] != QLatin1String("=") || f[2] != QLatin1String("IPv4"))
            continue;
        if (unescapeAvahi(f[3]) != name)
            continue;
        confirmed = true;
        EXPECT_EQ(f[7], QStringLiteral("169.254.77.1"));
        EXPECT_EQ(f[8].toInt(), port);
        QStringList txt;
        static const QRegularExpression quoted(QStringLiteral("\"([^\"]*)\""));
        for (const auto& m : quoted.globalMatch(f.mid(9).join(u';')))
            txt.append(unescapeAvahi(m.captured(1)));
        txt.sort();
        EXPECT_EQ(txt, (QStringList{QStringLiteral("did=DEV-ONE"), QStringLiteral("dn=") + name,
                                    QStringLiteral("pl=linux"), QStringLiteral("pr=0")}));
    }
    EXPECT_TRUE(confirmed) << listing->toStdString();
}

TEST_F(LanDiscovery, SecondPublisherOfANameTakesTheNextName) {
    const QString name = QStringLiteral("Twin");
    LanDevice first(1, {QStringLiteral("--publish"), name, QStringLiteral("--txt"),
                        QStringLiteral("did=FIRST")});
    ASSERT_EQ(first.next(QStringLiteral("published ")), name) << first.transcript().toStdString();

    LanDevice second(3, {QStringLiteral("--publish"), name, QStringLiteral("--txt"),
                         QStringLiteral("did=SECOND")});
    ASSERT_EQ(second.next(QStringLiteral("published ")), QStringLiteral("Twin #2"))
        << second.transcript().toStdString();

    LanDevice browser(2, {QStringLiteral("--browse")});
    const auto seen = browser.nextServices([](const QJsonArray& set) {
        return has(set, QStringLiteral("Twin")) && has(set, QStringLiteral("Twin #2"));
    });
    ASSERT_TRUE(seen) << browser.transcript().toStdString();
    const auto did = [&](const QString& n) {
        return service(*seen, n)
            .value(QStringLiteral("txt"))
            .toObject()
            .value(QStringLiteral("did"))
            .toString();
    };
    EXPECT_EQ(did(QStringLiteral("Twin")), QStringLiteral("FIRST"));
    EXPECT_EQ(did(QStringLiteral("Twin #2")), QStringLiteral("SECOND"));
}

TEST_F(LanDiscovery, FollowsTheDaemonAwayAndBackAndPublishesAgain) {
    const QString name = QStringLiteral("Phoenix");
    // Started while its daemon is down: says so once, and waits.
    ASSERT_TRUE(LanDevice::avahi(3, QStringLiteral("stop")));
    LanDevice device(3, {QStringLiteral("--publish"), name, QStringLiteral("--browse")});
    ASSERT_GT(device.port(), 0);
    EXPECT_TRUE(device.transcript().startsWith(QLatin1String("ready available=0")))
        << device.transcript().toStdString();
    EXPECT_EQ(device.next(QStringLiteral("available ")), QStringLiteral("0"));

    LanDevice observer(2, {QStringLiteral("--browse")});
    const auto present = [&](const QJsonArray& set) { return has(set, name); };
    const auto absent = [&](const QJsonArray& set) { return !has(set, name); };

    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round);
        ASSERT_TRUE(LanDevice::avahi(3, QStringLiteral("start")));
        EXPECT_EQ(device.next(QStringLiteral("available ")), QStringLiteral("1"))
            << device.transcript().toStdString();
        EXPECT_EQ(device.next(QStringLiteral("published ")), name)
            << device.transcript().toStdString();
        // Browsing resumed too: it finds its own service again.
        EXPECT_TRUE(device.nextServices(present)) << device.transcript().toStdString();
        EXPECT_TRUE(observer.nextServices(present)) << observer.transcript().toStdString();

        ASSERT_TRUE(LanDevice::avahi(3, QStringLiteral("stop")));
        EXPECT_EQ(device.next(QStringLiteral("available ")), QStringLiteral("0"))
            << device.transcript().toStdString();
        // The daemon withdrew the service on its way out.
        EXPECT_TRUE(observer.nextServices(absent)) << observer.transcript().toStdString();
    }
    ASSERT_TRUE(LanDevice::avahi(3, QStringLiteral("start")));
    EXPECT_EQ(device.next(QStringLiteral("published ")), name);
    // One report per change, never a repeat.
    EXPECT_EQ(device.count(QStringLiteral("available 0")), 3) << device.transcript().toStdString();
    EXPECT_EQ(device.count(QStringLiteral("available 1")), 3) << device.transcript().toStdString();
}

TEST_F(LanDiscovery, ANewPublicationReplacesTheOldAndUnpublishWithdrawsIt) {
    LanDevice publisher(1, {QStringLiteral("--publish"), QStringLiteral("Old name"),
                            QStringLiteral("--txt"), QStringLiteral("pr=0")});
    ASSERT_EQ(publisher.next(QStringLiteral("published ")), QStringLiteral("Old name"));
    LanDevice browser(2, {QStringLiteral("--browse")});
    ASSERT_TRUE(browser.nextServices(
        [](const QJsonArray& set) { return has(set, QStringLiteral("Old name")); }));

    publisher.send(QStringLiteral("publish\tNew name\tpr=1"));
    ASSERT_EQ(publisher.next(QStringLiteral("published ")), QStringLiteral("New name"));
    const auto replaced = browser.nextServices([](const QJsonArray& set) {
        return has(set, QStringLiteral("New name")) && !has(set, QStringLiteral("Old name"));
    });
    ASSERT_TRUE(replaced) << browser.transcript().toStdString();
    EXPECT_EQ(service(*replaced, QStringLiteral("New name")).value(QStringLiteral("txt")),
              (QJsonObject{{QStringLiteral("pr"), QStringLiteral("1")}}));

    publisher.send(QStringLiteral("unpublish"));
    EXPECT_TRUE(browser.nextServices([](const QJsonArray& set) {
        return !has(set, QStringLiteral("New name"));
    })) << browser.transcript().toStdString();
}
