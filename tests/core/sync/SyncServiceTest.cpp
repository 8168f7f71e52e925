#include "core/sync/SyncService.h"
#include "core/prefs/Preferences.h"
#include "core/store/Clip.h"
#include "core/sync/SyncCrypto.h"
#include "core/sync/SyncIdentity.h"
#include "support/SyncLogCapture.h"
#include "support/SyncRawPeer.h"
#include "support/SyncTestDevice.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QtEndian>
#include <gtest/gtest.h>
#include <memory>

// SyncService over real loopback sockets, with DNS-SD played by the test.
// A "device" is a whole service with its own settings; a "raw peer" is the
// test speaking the wire format itself, to send what no honest device would.

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

constexpr int kWaitMs = 5000;

SyncMessage helloFrom(const SyncTestDevice& device, std::optional<qint64> protocol) {
    SyncMessage hello =
        SyncMessage::hello(device.identity.deviceId(), device.identity.deviceName());
    hello.proto = protocol;
    return hello;
}

QString keyText(char fill) {
    return QString::fromLatin1(QByteArray(32, fill).toBase64());
}

SyncDevicePayload entry(const QString& id, const QString& name, char key = 'k') {
    return {id, name, keyText(key), u"linux"_s, 1'700'000'000.0};
}

Clip clipOf(const QString& text) {
    return Clip::make(text, Instant::fromUnix(1'700'000'000.0));
}

class SyncServiceTest : public ::testing::Test {
protected:
    // Both running, B having found A: connected both ways.
    void connectPair() {
        pair(a, b);
        a.boot(fastOptions());
        b.boot(fastOptions());
        a.start();
        b.start();
        ASSERT_TRUE(a.service->isRunning());
        ASSERT_TRUE(b.service->isRunning());
        b.discovery.announce({a.advertised(), b.advertised()});
        ASSERT_TRUE(QTest::qWaitFor([&] { return a.connectedTo(b) && b.connectedTo(a); }, kWaitMs));
    }
    static SyncService::Options fastOptions() {
        SyncService::Options options;
        options.helloTimeout = 300ms;
        options.connectionLimits.unboundTimeout = std::chrono::milliseconds(300);
        return options;
    }

    SyncLogCapture log;
    SyncTestDevice a{u"Anna"_s};
    SyncTestDevice b{u"Bert"_s};
};

} // namespace

TEST_F(SyncServiceTest, StartsOnlyWhenEnabledAndPublishesWhatPeersNeed) {
    SyncService& service = a.boot();
    service.start();
    EXPECT_TRUE(log.contains(u"start() called — isRunning=false syncEnabled=false"_s));
    EXPECT_TRUE(log.contains(u"start() bailed out"_s));
    EXPECT_FALSE(service.isRunning());
    EXPECT_FALSE(a.discovery.published);

    QSignalSpy running(&service, &SyncService::isRunningChanged);
    a.start(); // the syncEnabled observation starts it
    EXPECT_EQ(running.count(), 1);
    ASSERT_TRUE(service.isRunning());
    EXPECT_GT(service.listenerPort(), 0);
    ASSERT_TRUE(a.discovery.published);
    EXPECT_EQ(a.discovery.published->type, u"_tindrel._tcp"_s);
    EXPECT_EQ(a.discovery.published->name, u"Anna"_s);
    EXPECT_EQ(a.discovery.published->port, service.listenerPort());
    const ServiceDiscovery::Txt txt{{u"did"_s, a.identity.deviceId()},
                                    {u"dn"_s, u"Anna"_s},
                                    {u"pl"_s, u"linux"_s},
                                    {u"pr"_s, u"0"_s}};
    EXPECT_EQ(a.discovery.published->txt, txt);
    EXPECT_EQ(a.discovery.browsedType, u"_tindrel._tcp"_s);
    EXPECT_EQ(service.lastEvent(), u"Sync started as \u201cAnna\u201d"_s);
    // Published is confirmed later, as an event of its own.
    ASSERT_TRUE(QTest::qWaitFor([&] { return service.isAdvertising(); }, kWaitMs));
    EXPECT_TRUE(service.lastEvent().startsWith(
        u"Advertising on port "_s + QString::number(service.listenerPort()) + u" via "_s));

    service.start();
    EXPECT_EQ(log.count(u"start() bailed out"_s), 2);

    a.prefs.setSyncEnabled(false);
    EXPECT_FALSE(service.isRunning());
    EXPECT_FALSE(service.isAdvertising());
    EXPECT_FALSE(a.discovery.published);
    EXPECT_FALSE(a.discovery.browsedType);
    EXPECT_EQ(service.lastEvent(), u"Sync stopped"_s);
}

TEST_F(SyncServiceTest, ListenerPrefersItsPortAndTakesAnyOtherWhenItIsTaken) {
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    const quint16 port = probe.serverPort();
    SyncService::Options options;
    options.port = port;

    // Taken by someone else: any free port, and peers learn it from DNS-SD.
    a.boot(options);
    a.start();
    ASSERT_TRUE(a.service->isRunning());
    EXPECT_NE(a.service->listenerPort(), port);
    EXPECT_EQ(a.discovery.published->port, a.service->listenerPort());
    a.prefs.setSyncEnabled(false);

    probe.close();
    a.start();
    EXPECT_EQ(a.service->listenerPort(), port);
}

TEST_F(SyncServiceTest, ListenerThatCannotBeCreatedUndoesTheStart) {
    SyncService::Options options;
    // Not an address of this machine.
    options.listenAddress = QHostAddress(u"192.0.2.1"_s);
    a.service = std::make_unique<SyncService>(a.prefs, a.settings, a.clock, a.identity, a.discovery,
                                              options);
    a.start();
    EXPECT_FALSE(a.service->isRunning());
    EXPECT_TRUE(a.service->lastEvent().startsWith(u"Could not start listener: "_s))
        << a.service->lastEvent().toStdString();
    EXPECT_FALSE(a.discovery.browsedType);
    EXPECT_FALSE(a.discovery.published);
}

TEST_F(SyncServiceTest, WithoutAvahiTheListenerStillTakesPairedDevices) {
    pair(a, b);
    a.discovery.available = false;
    a.boot(fastOptions());
    b.boot(fastOptions());
    a.start();
    b.start();
    ASSERT_TRUE(a.service->isRunning());
    EXPECT_EQ(a.service->lastEvent(),
              u"avahi-daemon is not running — devices on this network cannot find this one"_s);
    b.discovery.announce({a.advertised()});
    EXPECT_TRUE(QTest::qWaitFor([&] { return a.connectedTo(b); }, kWaitMs));
}

TEST_F(SyncServiceTest, ClipsTravelOnceAndNeverBounceBack) {
    connectPair();
    a.service->broadcast(clipOf(u"hello from Anna"_s));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !b.received.isEmpty(); }, kWaitMs));
    EXPECT_EQ(b.received.first(), std::pair(u"hello from Anna"_s, u"Anna"_s));
    EXPECT_EQ(b.service->lastEvent(), u"Received a clip from Anna"_s);
    EXPECT_TRUE(b.service->recentHashes().contains(SyncCrypto::hash(u"hello from Anna"_s)));

    // B records it as a copy and offers it back; A copies it again: neither
    // sends it a second time. Another text still goes through.
    b.service->broadcast(clipOf(u"hello from Anna"_s));
    a.service->broadcast(clipOf(u"hello from Anna"_s));
    a.service->broadcast(clipOf(u""_s));
    b.service->broadcast(clipOf(u"from Bert"_s));
    ASSERT_TRUE(b.sendMarker(a));
    ASSERT_TRUE(a.sendMarker(b));
    EXPECT_EQ(a.received, (QList<std::pair<QString, QString>>{{u"from Bert"_s, u"Bert"_s}}));
    EXPECT_EQ(b.received.size(), 1);

    // Sending off: nothing leaves. Receiving off: nothing is handed over.
    a.prefs.setSyncSend(false);
    a.service->broadcast(clipOf(u"kept home"_s));
    b.prefs.setSyncReceive(false);
    a.prefs.setSyncSend(true);
    a.service->broadcast(clipOf(u"not taken"_s));
    QTest::qWait(150);
    EXPECT_EQ(b.received.size(), 1);
}

TEST_F(SyncServiceTest, RecentHashesForgetTheOldestBeyondTheirLimit) {
    a.boot();
    a.start();
    for (int i = 0; i < SyncService::recentHashLimit + 1; ++i)
        a.service->broadcast(clipOf(QString::number(i)));
    EXPECT_EQ(a.service->recentHashes().size(), SyncService::recentHashLimit);
    EXPECT_FALSE(a.service->recentHashes().contains(SyncCrypto::hash(u"0"_s)));
    EXPECT_EQ(a.service->recentHashes().last(),
              SyncCrypto::hash(QString::number(SyncService::recentHashLimit)));
}

TEST_F(SyncServiceTest, HelloIsAnsweredWithWhatTheProtocolSpeaks) {
    // A knows B and C; B says hello with each protocol version.
    SyncTestDevice cleo(u"Cleo"_s);
    pair(a, b);
    SyncPeerStore(a.settings, a.clock).upsert(cleo.record());
    a.pins = {{{u"pinned"_s, 1'700'000'000.0}}, {}};
    a.boot(fastOptions());
    a.start();
    const struct {
        std::optional<qint64> protocol;
        QList<SyncMessageType> answer;
    } cases[] = {
        {std::nullopt, {SyncMessageType::hello}},
        {1, {SyncMessageType::hello}},
        {2, {SyncMessageType::hello, SyncMessageType::devices}},
        {3, {SyncMessageType::hello, SyncMessageType::devices, SyncMessageType::pins}},
        {1'000'000'000'000,
         {SyncMessageType::hello, SyncMessageType::devices, SyncMessageType::pins}},
    };
    for (const auto& c : cases) {
        RawPeer peer(a, b.sessionKeyWith(a));
        peer.send(helloFrom(b, c.protocol));
        ASSERT_TRUE(peer.waitForType(c.answer.last()));
        // A clip sent after the answers marks their end.
        a.service->broadcast(clipOf(u"marker "_s + QString::number(c.protocol.value_or(-1))));
        ASSERT_TRUE(peer.waitForType(SyncMessageType::clip));
        EXPECT_EQ(peer.types(), c.answer + QList{SyncMessageType::clip}) << c.protocol.value_or(-1);
        const QList<SyncMessage> answer = peer.messages();
        EXPECT_EQ(answer.first().proto, 3);
        if (c.answer.size() > 1) {
            // B's own record is never offered to B.
            ASSERT_EQ(answer.at(1).devices->size(), 1);
            EXPECT_EQ(answer.at(1).devices->first().id, cleo.identity.deviceId());
        }
    }
    EXPECT_TRUE(a.connectedTo(b));
    EXPECT_TRUE(a.service->peers().first().lastSeen.has_value());
}

TEST_F(SyncServiceTest, PinSnapshotsGoOnlyToPeersThatSpeakThemAndNotBack) {
    SyncTestDevice c(u"Cleo"_s);
    pair(a, b);
    pair(a, c);
    a.pins = {{{u"pinned"_s, 1'700'000'000.0}}, {}};
    a.boot(fastOptions());
    a.start();
    RawPeer fromB(a, b.sessionKeyWith(a));
    fromB.send(helloFrom(b, 3));
    RawPeer fromC(a, c.sessionKeyWith(a));
    fromC.send(helloFrom(c, 2));
    ASSERT_TRUE(fromB.waitForType(SyncMessageType::pins));
    ASSERT_TRUE(fromC.waitForType(SyncMessageType::devices));
    const auto pinsSeen = [](RawPeer& peer) { return peer.types().count(SyncMessageType::pins); };

    a.service->broadcastPins();
    ASSERT_TRUE(QTest::qWaitFor([&] { return pinsSeen(fromB) == 2; }, kWaitMs));
    // Excluding B: the snapshot that came from B does not go back to it.
    a.service->broadcastPins(b.identity.deviceId());
    a.service->broadcastPins();
    // A clip sent after the snapshots marks their end on each connection.
    int clipsSeen = 0;
    const auto markEnd = [&](const QString& text) {
        a.service->broadcast(clipOf(text));
        return QTest::qWaitFor(
            [&] {
                return fromB.types().count(SyncMessageType::clip) == clipsSeen + 1 &&
                       fromC.types().count(SyncMessageType::clip) == clipsSeen + 1;
            },
            kWaitMs);
    };
    ASSERT_TRUE(markEnd(u"first marker"_s));
    ++clipsSeen;
    EXPECT_EQ(pinsSeen(fromB), 3);
    EXPECT_EQ(pinsSeen(fromC), 0);

    // Nothing pinned, nothing unpinned: no snapshot at all.
    a.pins = {};
    a.service->broadcastPins();
    ASSERT_TRUE(markEnd(u"second marker"_s));
    EXPECT_EQ(pinsSeen(fromB), 3);
}

TEST_F(SyncServiceTest, ASnapshotTooLargeForOneMessageLeavesOutTheLongestPins) {
    pair(a, b);
    const QString longest(700'000, u'x');
    const QString longer(500'000, u'y');
    a.pins = {{{u"short"_s, 1.0}, {longest, 2.0}, {longer, 3.0}}, {{QString(64, u'a'), 4.0}}};
    a.boot(fastOptions());
    a.start();
    RawPeer peer(a, b.sessionKeyWith(a));
    peer.send(helloFrom(b, 3));
    ASSERT_TRUE(peer.waitForType(SyncMessageType::pins));
    const SyncMessage pins = peer.messages().last();
    EXPECT_EQ(*pins.pins, (QList<SyncPinPayload>{{u"short"_s, 1.0}, {longer, 3.0}}));
    EXPECT_EQ(pins.unpinned->size(), 1);
    EXPECT_TRUE(log.contains(u"left out the 1 longest pin(s)"_s));
}

TEST_F(SyncServiceTest, BadTimesInAPinSnapshotCostOnlyTheirEntries) {
    pair(a, b);
    a.boot(fastOptions());
    a.start();
    RawPeer peer(a, b.sessionKeyWith(a));
    peer.send(helloFrom(b, 3));
    ASSERT_TRUE(peer.waitForType(SyncMessageType::hello));
    peer.sendJson(R"({"type":"pins","pins":[{"text":"good","pinnedAt":1700000000},)"
                  R"({"text":"future","pinnedAt":1e300},{"text":"past","pinnedAt":-1}],)"
                  R"("unpinned":[{"hash":"h","at":1e12},{"hash":"g","at":1700000001}]})");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !a.receivedPins.isEmpty(); }, kWaitMs));
    const SyncTestDevice::Pins& got = a.receivedPins.first();
    EXPECT_EQ(got.pins, (QList<SyncPinPayload>{{u"good"_s, 1'700'000'000.0}}));
    EXPECT_EQ(got.unpinned, (QList<SyncUnpinPayload>{{u"g"_s, 1'700'000'001.0}}));
    EXPECT_EQ(got.from, b.identity.deviceId());
    // The peer is still there to send the next one.
    peer.sendJson(R"({"type":"clip","text":"still here","hash":"x","createdAt":-7})");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !a.received.isEmpty(); }, kWaitMs));
    EXPECT_FALSE(peer.isClosed());
    EXPECT_TRUE(a.connectedTo(b));
}

TEST_F(SyncServiceTest, APeerNeverMakesUsStoreOrDialOurOwnId) {
    pair(a, b);
    a.boot(fastOptions());
    a.start();
    QSignalSpy unpaired(a.service.get(), &SyncService::discoveredUnpairedChanged);

    // Our own service, and someone else advertising our id.
    ServiceDiscovery::Service impostor = a.advertised();
    impostor.name = u"Mallory"_s;
    a.discovery.announce({a.advertised(), impostor});
    ASSERT_TRUE(unpaired.wait(kWaitMs));
    EXPECT_EQ(a.service->discoveredUnpaired(), 0);

    RawPeer peer(a, b.sessionKeyWith(a));
    // A hello naming us (or anyone but the key's owner) does not connect.
    peer.send(helloFrom(a, 3));
    QTest::qWait(100);
    EXPECT_FALSE(a.connectedTo(b));
    EXPECT_TRUE(peer.types().isEmpty());

    // Nor does what comes from the key's owner name us as its origin, or
    // make us store our own id.
    RawPeer bert(a, b.sessionKeyWith(a));
    bert.send(helloFrom(b, 3));
    SyncMessage clip;
    clip.type = SyncMessageType::clip;
    clip.text = u"looped"_s;
    clip.hash = SyncCrypto::hash(*clip.text);
    clip.originId = a.identity.deviceId();
    bert.send(clip);
    SyncMessage roster;
    roster.type = SyncMessageType::devices;
    roster.devices =
        QList<SyncDevicePayload>{entry(a.identity.deviceId(), u"Me"_s), entry(u"D"_s, u"Dora"_s)};
    bert.send(roster);
    ASSERT_TRUE(QTest::qWaitFor([&] { return a.service->peers().size() == 2; }, kWaitMs));
    EXPECT_EQ(a.service->peers().last().id, u"D"_s);
    EXPECT_TRUE(a.received.isEmpty());
    EXPECT_TRUE(log.contains(u"dropped a message that claims to come from this device"_s));
}

TEST_F(SyncServiceTest, DeviceListsAddNewDevicesAndOnlyRenameKnownOnes) {
    pair(a, b);
    SyncPeerStore(a.settings, a.clock)
        .upsert(SyncDevice::fromPayload(entry(u"K"_s, u"Kept"_s, 'q')));
    a.boot(fastOptions());
    a.start();
    RawPeer peer(a, b.sessionKeyWith(a));
    peer.send(helloFrom(b, 3));
    ASSERT_TRUE(peer.waitForType(SyncMessageType::devices));

    SyncMessage roster;
    roster.type = SyncMessageType::devices;
    roster.devices = QList<SyncDevicePayload>{
        entry(u"K"_s, u"Renamed\u0007"_s, 'z'), // known: new name, key stays
        entry(u"N1"_s, u"New one"_s),
        {u"BAD"_s, u"Bad key"_s, u"not base64"_s, {}, {}},
        entry(u"N2"_s, u"New two"_s),
    };
    peer.send(roster);
    ASSERT_TRUE(QTest::qWaitFor([&] { return a.service->peers().size() == 4; }, kWaitMs));
    const QList<SyncDevice> peers = a.service->peers();
    EXPECT_EQ(peers.at(1).name, u"Renamed"_s);
    EXPECT_EQ(peers.at(1).keyBase64, keyText('q'));
    EXPECT_EQ(peers.at(2).id, u"N1"_s);
    EXPECT_EQ(peers.at(2).lastSeen, Instant::fromUnix(1'700'000'000.0));
    EXPECT_EQ(peers.at(3).id, u"N2"_s);
    EXPECT_EQ(a.service->lastEvent(), u"Added New one, New two — synced from Bert"_s);
    // The list goes on to B (which speaks protocol 2+), without B itself.
    ASSERT_TRUE(QTest::qWaitFor([&] { return peer.types().count(SyncMessageType::devices) == 2; },
                                kWaitMs));
    EXPECT_EQ(peer.messages().last().devices->size(), 3);

    // The same list again adds nothing: no event, no further gossip.
    peer.send(roster);
    QTest::qWait(150);
    EXPECT_EQ(peer.types().count(SyncMessageType::devices), 2);
    EXPECT_EQ(a.service->lastEvent(), u"Added New one, New two — synced from Bert"_s);
}

TEST_F(SyncServiceTest, AHugeDeviceListIsReadOnlyAsFarAsAnyRealOne) {
    pair(a, b);
    a.boot(fastOptions());
    a.start();
    RawPeer peer(a, b.sessionKeyWith(a));
    peer.send(helloFrom(b, 3));
    ASSERT_TRUE(peer.waitForType(SyncMessageType::hello));
    SyncMessage roster;
    roster.type = SyncMessageType::devices;
    roster.devices = QList<SyncDevicePayload>{};
    for (int i = 0; i < 10'000; ++i)
        roster.devices->append({u"D"_s + QString::number(i), u"d"_s, keyText('k'), {}, {}});
    // Far down the list, a rename of a device we know: never looked at.
    SyncDevicePayload renamed = b.record().payload();
    renamed.name = u"Renamed"_s;
    roster.devices->append(renamed);
    ASSERT_LT(roster.encode().size(), SyncCrypto::maxSealedSize);
    peer.send(roster);
    ASSERT_TRUE(QTest::qWaitFor([&] { return a.service->peers().size() > 1; }, kWaitMs));
    QTest::qWait(100);
    // B plus the first few entries; what was left out is logged.
    EXPECT_EQ(a.service->peers().size(), 1 + SyncService::maxRosterAddsPerMessage);
    EXPECT_EQ(a.service->peers().last().id, u"D3"_s);
    EXPECT_EQ(a.service->peers().first().name, u"Bert"_s);
    EXPECT_TRUE(
        log.contains(u"left out 60 new device(s) from the list of Bert (d, d, d, d, d, …)"_s));
    EXPECT_FALSE(peer.isClosed());

    // Sent again and again, the same peer adds only its share, and a real
    // pairing still finds room.
    for (int i = 0; i < 20; ++i)
        peer.send(roster);
    // However slow the build, the share is reached first; then any more.
    (void)QTest::qWaitFor(
        [&] { return a.service->peers().size() >= 1 + SyncService::maxRosterAddsPerPeer; },
        kWaitMs);
    QTest::qWait(300);
    EXPECT_EQ(a.service->peers().size(), 1 + SyncService::maxRosterAddsPerPeer);
}

// Several peers' lists together stop well short of the store's bound.
TEST_F(SyncServiceTest, DeviceListsFillOnlyHalfTheStore) {
    pair(a, b);
    SyncPeerStore store(a.settings, a.clock);
    // Paired by hand: 28 besides Bert.
    for (int i = 0; i < 28; ++i)
        ASSERT_TRUE(
            store.upsert(SyncDevice::fromPayload(entry(u"H"_s + QString::number(i), u"h"_s))));
    a.boot(fastOptions());
    a.start();
    RawPeer peer(a, b.sessionKeyWith(a));
    peer.send(helloFrom(b, 3));
    ASSERT_TRUE(peer.waitForType(SyncMessageType::hello));
    SyncMessage roster;
    roster.type = SyncMessageType::devices;
    roster.devices = QList<SyncDevicePayload>{};
    for (int i = 0; i < 4; ++i)
        roster.devices->append(entry(u"N"_s + QString::number(i), u"n"_s));
    peer.send(roster);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return a.service->peers().size() == SyncService::maxRosterDevices; }, kWaitMs));
    QTest::qWait(100);
    EXPECT_EQ(a.service->peers().size(), SyncService::maxRosterDevices);
    EXPECT_TRUE(log.contains(u"left out 1 new device(s) from the list of Bert (n)"_s));
}

TEST_F(SyncServiceTest, UnknownCallersGetAFixedNumberOfSlotsAndLittleTime) {
    pair(a, b);
    a.boot(fastOptions());
    a.start();
    // A flood of connections that never show a key.
    std::vector<std::unique_ptr<QTcpSocket>> flood;
    for (int i = 0; i < 40; ++i) {
        auto socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(QHostAddress::LocalHost, quint16(a.service->listenerPort()));
        flood.push_back(std::move(socket));
    }
    const auto closedCount = [&] {
        return std::count_if(flood.begin(), flood.end(), [](const auto& s) {
            return s->state() == QAbstractSocket::UnconnectedState;
        });
    };
    // One address keeps a few of them; the older ones make room for newer ones.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return closedCount() >= 40 - SyncService::maxUnboundPerAddress; }, kWaitMs));
    EXPECT_TRUE(log.contains(u"unidentified inbound connection(s) to make room"_s));
    // The rest are dropped once their time is up ...
    ASSERT_TRUE(QTest::qWaitFor([&] { return closedCount() == 40; }, kWaitMs));

    // ... as is one that announces a first frame larger than an unknown
    // caller may send, at once.
    RawPeer oversized(a, b.sessionKeyWith(a));
    QByteArray prefix(4, Qt::Uninitialized);
    qToBigEndian(quint32(64 * 1024 + 1), prefix.data());
    oversized.sendBytes(prefix + QByteArray(1000, 'x'));
    ASSERT_TRUE(QTest::qWaitFor([&] { return oversized.isClosed(); }, kWaitMs));

    // A paired device still gets in.
    RawPeer peer(a, b.sessionKeyWith(a));
    peer.send(helloFrom(b, 3));
    EXPECT_TRUE(peer.waitForType(SyncMessageType::hello));
}

// Idle callers from one address and from many (loopback answers on all of
// 127.0.0.0/8) hold every slot they can get; the paired device still gets in,
// every time, and so does a new caller from an address of its own.
TEST_F(SyncServiceTest, IdleCallersNeverKeepAPairedDeviceOut) {
    pair(a, b);
    SyncService::Options options = fastOptions();
    options.connectionLimits.unboundTimeout = 60s; // the flood outlives the test
    a.boot(options);
    a.start();
    const auto port = quint16(a.service->listenerPort());
    std::vector<std::unique_ptr<QTcpSocket>> flood;
    const auto openFrom = [&](const QString& from) {
        auto socket = std::make_unique<QTcpSocket>();
        EXPECT_TRUE(socket->bind(QHostAddress(from), 0));
        socket->connectToHost(QHostAddress::LocalHost, port);
        EXPECT_TRUE(socket->waitForConnected(kWaitMs));
        flood.push_back(std::move(socket));
    };
    struct Wave {
        const char* what;
        int count;
        bool manyAddresses;
    };
    for (const Wave& wave : {Wave{"one address", 40, false}, Wave{"many addresses", 40, true},
                             Wave{"many again", 40, true}}) {
        SCOPED_TRACE(wave.what);
        for (int i = 0; i < wave.count; ++i)
            openFrom(wave.manyAddresses ? u"127.0.0.%1"_s.arg(2 + i) : u"127.0.0.1"_s);
        QTest::qWait(100);
        RawPeer peer(a, b.sessionKeyWith(a));
        peer.send(helloFrom(b, 3));
        EXPECT_TRUE(peer.waitForType(SyncMessageType::hello));
        EXPECT_FALSE(peer.isClosed());
    }
    // What is still open is within the slots.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return std::count_if(flood.begin(), flood.end(), [](const auto& s) {
                       return s->state() == QAbstractSocket::ConnectedState;
                   }) <= SyncService::maxUnboundInbound;
        },
        kWaitMs));
}

TEST_F(SyncServiceTest, APeerStaysConnectedWhileAnyConnectionToItHasSaidHello) {
    pair(a, b);
    a.boot(fastOptions());
    a.start();
    auto first = std::make_unique<RawPeer>(a, b.sessionKeyWith(a));
    RawPeer second(a, b.sessionKeyWith(a));
    first->send(helloFrom(b, 3));
    second.send(helloFrom(b, 3));
    ASSERT_TRUE(first->waitForType(SyncMessageType::hello));
    ASSERT_TRUE(second.waitForType(SyncMessageType::hello));

    first.reset();
    QTest::qWait(300);
    EXPECT_TRUE(a.connectedTo(b));
    second.socket.disconnectFromHost();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !a.connectedTo(b); }, kWaitMs));
}

TEST_F(SyncServiceTest, ADialThatGetsNoHelloBackIsClosed) {
    pair(a, b);
    b.boot(fastOptions());
    b.start();
    // Something else answers on the advertised port, and never speaks.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
    ServiceDiscovery::Service fake{u"Anna"_s,
                                   {{u"did"_s, a.identity.deviceId()}},
                                   {QHostAddress::LocalHost},
                                   silent.serverPort()};
    b.discovery.announce({fake});
    ASSERT_TRUE(QTest::qWaitFor([&] { return silent.hasPendingConnections(); }, kWaitMs));
    QTcpSocket* accepted = silent.nextPendingConnection();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return accepted->state() == QAbstractSocket::UnconnectedState; }, kWaitMs));
    EXPECT_FALSE(b.connectedTo(a));
    // Its slot is free again: the next browse result dials anew.
    b.discovery.announce({fake});
    EXPECT_TRUE(QTest::qWaitFor([&] { return silent.hasPendingConnections(); }, kWaitMs));
}

TEST_F(SyncServiceTest, PausingAndUnpairingEndTheFlowAndUnpairingSticks) {
    connectPair();
    const SyncDevice bert = a.service->peers().first();
    a.service->setEnabled(false, bert);
    EXPECT_EQ(a.service->lastEvent(), u"Paused syncing with Bert"_s);
    EXPECT_FALSE(a.connectedTo(b));
    EXPECT_EQ(a.service->peers().first().enabled, false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !b.connectedTo(a); }, kWaitMs));
    // B finds A again, but A no longer takes B's key.
    b.discovery.announce({a.advertised()});
    QTest::qWait(200);
    EXPECT_FALSE(a.connectedTo(b));

    a.service->setEnabled(true, bert);
    EXPECT_EQ(a.service->lastEvent(), u"Resumed syncing with Bert"_s);
    b.discovery.announce({a.advertised()});
    ASSERT_TRUE(QTest::qWaitFor([&] { return a.connectedTo(b); }, kWaitMs));

    a.service->unpair(bert);
    EXPECT_EQ(a.service->lastEvent(), u"Unpaired Bert"_s);
    EXPECT_TRUE(a.service->peers().isEmpty());
    EXPECT_FALSE(a.connectedTo(b));
    EXPECT_EQ(a.service->unpairedIds(), QStringList{b.identity.deviceId()});
    const QJsonArray stored =
        QJsonDocument::fromJson(a.settings.values.value(u"syncUnpairedIds"_s).toByteArray())
            .array();
    EXPECT_EQ(stored, QJsonArray{b.identity.deviceId()});

    // A third device's list does not bring B back.
    SyncTestDevice c(u"Cleo"_s);
    pair(a, c);
    a.service.reset();
    a.boot(fastOptions()).start();
    RawPeer peer(a, c.sessionKeyWith(a));
    peer.send(helloFrom(c, 3));
    SyncMessage roster;
    roster.type = SyncMessageType::devices;
    roster.devices = QList<SyncDevicePayload>{b.record().payload()};
    peer.send(roster);
    ASSERT_TRUE(peer.waitForType(SyncMessageType::hello));
    QTest::qWait(100);
    EXPECT_EQ(a.service->peers().size(), 1);
}

TEST_F(SyncServiceTest, AHelloSpeaksOnlyForTheKeyItCameWithAndIsKeptAlive) {
    SyncTestDevice c(u"Cleo"_s);
    pair(a, b);
    pair(a, c);
    SyncService::Options options = fastOptions();
    options.keepAlive = 50ms;
    a.boot(options);
    a.start();
    RawPeer peer(a, b.sessionKeyWith(a));
    // B's key, Cleo's name: whoever holds B's key cannot speak for Cleo.
    // B's own hello after it is answered only once A has taken the first:
    // one hello back, and B alone connected.
    peer.send(helloFrom(c, 3));
    peer.send(helloFrom(b, 3));
    ASSERT_TRUE(peer.waitForType(SyncMessageType::hello));
    EXPECT_EQ(peer.types().count(SyncMessageType::hello), 1);
    const qsizetype pings = peer.types().count(SyncMessageType::ping);
    EXPECT_TRUE(QTest::qWaitFor([&] { return peer.types().count(SyncMessageType::ping) > pings; },
                                kWaitMs));
    EXPECT_EQ(a.service->connectedPeerIds(), QStringList{b.identity.deviceId()});
}

TEST_F(SyncServiceTest, TheServiceNameFitsADnsLabelInWholeCharacters) {
    // 2 bytes each in UTF-8; a label holds 63 bytes.
    SyncTestDevice longName(QString(70, QChar(0xe9)));
    longName.boot();
    longName.start();
    ASSERT_TRUE(longName.discovery.published);
    EXPECT_EQ(longName.discovery.published->name, QString(31, QChar(0xe9)));
    // The TXT record still carries the whole name.
    EXPECT_EQ(longName.discovery.published->txt.value(u"dn"_s), QString(70, QChar(0xe9)));
}
