#include "LanDevice.h"

#include <QJsonObject>
#include <QRegularExpression>
#include <algorithm>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

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
        if (value.toObject().value(u"name"_s).toString() == name)
            return value.toObject();
    }
    return {};
}

bool has(const QJsonArray& services, const QString& name) {
    return !service(services, name).isEmpty();
}

QStringList addresses(const QJsonObject& service) {
    QStringList out;
    for (const auto& value : service.value(u"addresses"_s).toArray())
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

const QString kType = u"_tindrel._tcp"_s;

} // namespace

TEST_F(LanDiscovery, AnotherDeviceSeesTheServiceWithItsTxtAndReachesIt) {
    const QString name = u"Zoë’s laptop"_s;
    LanDevice publisher(1, {u"--publish"_s, name, u"--txt"_s, u"did=DEV-ONE"_s, u"--txt"_s,
                            u"dn="_s + name, u"--txt"_s, u"pl=linux"_s, u"--txt"_s, u"pr=0"_s,
                            u"--browse"_s});
    const int port = publisher.port();
    ASSERT_GT(port, 0) << publisher.transcript().toStdString();
    ASSERT_EQ(publisher.next(u"published "_s), name) << publisher.transcript().toStdString();

    LanDevice browser(2, {u"--browse"_s});
    const auto seen = browser.nextServices(
        [&](const QJsonArray& set) { return hasBothFamilies(service(set, name)); });
    ASSERT_TRUE(seen) << browser.transcript().toStdString();
    const QJsonObject found = service(*seen, name);
    EXPECT_EQ(found.value(u"port"_s).toInt(), port);
    EXPECT_EQ(
        found.value(u"txt"_s).toObject(),
        (QJsonObject{
            {u"did"_s, u"DEV-ONE"_s}, {u"dn"_s, name}, {u"pl"_s, u"linux"_s}, {u"pr"_s, u"0"_s}}));

    // IPv4 first; the IPv6 link-local address names the link it is on.
    const QStringList all = addresses(found);
    ASSERT_FALSE(all.isEmpty());
    EXPECT_EQ(all.first(), u"169.254.77.1"_s);
    const auto linkLocal = std::ranges::find_if(
        all, [](const QString& a) { return a.startsWith(QLatin1String("fe80:")); });
    ASSERT_NE(linkLocal, all.end()) << all.join(u' ').toStdString();
    EXPECT_TRUE(linkLocal->endsWith(QLatin1String("%tdl0"))) << linkLocal->toStdString();

    // Every address reported is one the other device can dial.
    for (const QString& address : all) {
        SCOPED_TRACE(address.toStdString());
        EXPECT_EQ(LanDevice::probe(2, address, port), u"hello from "_s + name);
    }

    // The publisher's own browser lists its own service too.
    EXPECT_TRUE(publisher.nextServices([&](const QJsonArray& set) { return has(set, name); }))
        << publisher.transcript().toStdString();

    // And Avahi's own tools see exactly what we published.
    const auto listing = LanDevice::run(2, {u"avahi-browse"_s, u"-rpt"_s, kType});
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
        EXPECT_EQ(f[7], u"169.254.77.1"_s);
        EXPECT_EQ(f[8].toInt(), port);
        QStringList txt;
        static const QRegularExpression quoted(u"\"([^\"]*)\""_s);
        for (const auto& m : quoted.globalMatch(f.mid(9).join(u';')))
            txt.append(unescapeAvahi(m.captured(1)));
        txt.sort();
        EXPECT_EQ(txt, (QStringList{u"did=DEV-ONE"_s, u"dn="_s + name, u"pl=linux"_s, u"pr=0"_s}));
    }
    EXPECT_TRUE(confirmed) << listing->toStdString();
}

TEST_F(LanDiscovery, SecondPublisherOfANameTakesTheNextName) {
    const QString name = u"Twin"_s;
    LanDevice first(1, {u"--publish"_s, name, u"--txt"_s, u"did=FIRST"_s});
    ASSERT_EQ(first.next(u"published "_s), name) << first.transcript().toStdString();

    LanDevice second(3, {u"--publish"_s, name, u"--txt"_s, u"did=SECOND"_s});
    ASSERT_EQ(second.next(u"published "_s), u"Twin #2"_s) << second.transcript().toStdString();

    LanDevice browser(2, {u"--browse"_s});
    const auto seen = browser.nextServices(
        [](const QJsonArray& set) { return has(set, u"Twin"_s) && has(set, u"Twin #2"_s); });
    ASSERT_TRUE(seen) << browser.transcript().toStdString();
    const auto did = [&](const QString& n) {
        return service(*seen, n).value(u"txt"_s).toObject().value(u"did"_s).toString();
    };
    EXPECT_EQ(did(u"Twin"_s), u"FIRST"_s);
    EXPECT_EQ(did(u"Twin #2"_s), u"SECOND"_s);
}

TEST_F(LanDiscovery, FollowsTheDaemonAwayAndBackAndPublishesAgain) {
    const QString name = u"Phoenix"_s;
    // Started while its daemon is down: says so once, and waits.
    ASSERT_TRUE(LanDevice::avahi(3, u"stop"_s));
    LanDevice device(3, {u"--publish"_s, name, u"--browse"_s});
    ASSERT_GT(device.port(), 0);
    EXPECT_TRUE(device.transcript().startsWith(QLatin1String("ready available=0")))
        << device.transcript().toStdString();
    EXPECT_EQ(device.next(u"available "_s), u"0"_s);

    LanDevice observer(2, {u"--browse"_s});
    const auto present = [&](const QJsonArray& set) { return has(set, name); };
    const auto absent = [&](const QJsonArray& set) { return !has(set, name); };

    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round);
        ASSERT_TRUE(LanDevice::avahi(3, u"start"_s));
        EXPECT_EQ(device.next(u"available "_s), u"1"_s) << device.transcript().toStdString();
        EXPECT_EQ(device.next(u"published "_s), name) << device.transcript().toStdString();
        // Browsing resumed too: it finds its own service again.
        EXPECT_TRUE(device.nextServices(present)) << device.transcript().toStdString();
        EXPECT_TRUE(observer.nextServices(present)) << observer.transcript().toStdString();

        ASSERT_TRUE(LanDevice::avahi(3, u"stop"_s));
        EXPECT_EQ(device.next(u"available "_s), u"0"_s) << device.transcript().toStdString();
        // The daemon withdrew the service on its way out.
        EXPECT_TRUE(observer.nextServices(absent)) << observer.transcript().toStdString();
    }
    ASSERT_TRUE(LanDevice::avahi(3, u"start"_s));
    EXPECT_EQ(device.next(u"published "_s), name);
    // One report per change, never a repeat.
    EXPECT_EQ(device.count(u"available 0"_s), 3) << device.transcript().toStdString();
    EXPECT_EQ(device.count(u"available 1"_s), 3) << device.transcript().toStdString();
}

TEST_F(LanDiscovery, ANewPublicationReplacesTheOldAndUnpublishWithdrawsIt) {
    LanDevice publisher(1, {u"--publish"_s, u"Old name"_s, u"--txt"_s, u"pr=0"_s});
    ASSERT_EQ(publisher.next(u"published "_s), u"Old name"_s);
    LanDevice browser(2, {u"--browse"_s});
    ASSERT_TRUE(
        browser.nextServices([](const QJsonArray& set) { return has(set, u"Old name"_s); }));

    publisher.send(u"publish\tNew name\tpr=1"_s);
    ASSERT_EQ(publisher.next(u"published "_s), u"New name"_s);
    const auto replaced = browser.nextServices(
        [](const QJsonArray& set) { return has(set, u"New name"_s) && !has(set, u"Old name"_s); });
    ASSERT_TRUE(replaced) << browser.transcript().toStdString();
    EXPECT_EQ(service(*replaced, u"New name"_s).value(u"txt"_s), (QJsonObject{{u"pr"_s, u"1"_s}}));

    publisher.send(u"unpublish"_s);
    EXPECT_TRUE(browser.nextServices([](const QJsonArray& set) {
        return !has(set, u"New name"_s);
    })) << browser.transcript().toStdString();
}
