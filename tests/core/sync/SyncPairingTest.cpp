#include "core/store/Clip.h"
#include "core/sync/PairingCode.h"
#include "core/sync/PairingLink.h"
#include "core/sync/SyncService.h"
#include "support/SyncLogCapture.h"
#include "support/SyncRawPeer.h"
#include "support/SyncTestDevice.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>
#include <gtest/gtest.h>

// Pairing between whole sync services over real loopback sockets; DNS-SD is
// played by the test, so each case decides who has seen whom.

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {
// A bound, not a pause: each join derives keys (200,000 HMAC rounds on both
// sides), which the thread sanitizer slows to seconds on a loaded machine.
constexpr int kWaitMs = 30000;

class SyncPairingTest : public ::testing::Test {
protected:
    void bootAll(std::initializer_list<SyncTestDevice*> devices) {
        for (SyncTestDevice* device : devices) {
            // The default wait for a first readable frame: a shorter one
            // closes a join's connection on a loaded machine before its
            // request is read, and a join is never tried again.
            device->boot();
            device->start();
            ASSERT_TRUE(device->service->isRunning());
        }
    }
    static bool knows(const SyncTestDevice& device, const SyncTestDevice& other) {
        const QList<SyncDevice> peers = device.service->peers();
        return std::any_of(peers.cbegin(), peers.cend(), [&](const SyncDevice& peer) {
            return peer.id == other.identity.deviceId();
        });
    }
    static QString loopbackLink(const SyncTestDevice& host, const QString& relay = {}) {
        return PairingLink::make(host.service->pairingCode(), quint16(host.service->listenerPort()),
                                 {u"127.0.0.1"_s}, !relay.isEmpty(), relay)
            .value();
    }

    SyncLogCapture log;
    SyncTestDevice a{u"Anna"_s};
    SyncTestDevice b{u"Bert"_s};
    SyncTestDevice c{u"Cleo"_s};
};
} // namespace

TEST_F(SyncPairingTest, TypedCodePairsBothWaysAndTheRegularConnectionFollowsAtOnce) {
    bootAll({&a, &b});
    // Bert had once unpaired Anna; pairing again is what the user wants now.
    b.service->unpair(a.record());
    ASSERT_TRUE(b.service->unpairedIds().contains(a.identity.deviceId()));

    const QString code = a.openPairing(180s);
    EXPECT_EQ(a.service->lastEvent(), u"Pairing open for 3 minutes"_s);
    ASSERT_EQ(code.size(), PairingCode::length);
    a.discovery.announce({b.advertised()});
    b.discovery.announce({a.advertised()});
    ASSERT_TRUE(QTest::qWaitFor([&] { return b.service->discoveredUnpaired() == 1; }, kWaitMs));

    // Typed the way people type it.
    EXPECT_EQ(b.join(u" "_s + PairingCode::format(code).toLower() + u" "_s),
              u"Pairing request sent"_s);

    ASSERT_TRUE(QTest::qWaitFor([&] { return knows(a, b) && knows(b, a); }, kWaitMs));
    const SyncDevice stored = a.service->peers().first();
    EXPECT_EQ(stored.keyBase64, b.identity.deviceKeyBase64());
    EXPECT_EQ(stored.platform, u"unknown"_s);
    EXPECT_TRUE(a.service->pairingCode().isEmpty());
    EXPECT_FALSE(a.service->pairingExpiry().isValid());
    EXPECT_FALSE(b.service->unpairedIds().contains(a.identity.deviceId()));
    EXPECT_TRUE(log.contains(u"Paired with Bert"_s));
    EXPECT_TRUE(log.contains(u"Paired with Anna"_s));

    // No other trigger comes: the pairing itself must bring up the link.
    ASSERT_TRUE(QTest::qWaitFor([&] { return a.connectedTo(b) && b.connectedTo(a); }, kWaitMs));
    a.service->broadcast(Clip::make(u"after pairing"_s, Instant::fromUnix(1.7e9)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !b.received.isEmpty(); }, kWaitMs));
    EXPECT_EQ(b.received.first(), std::pair(u"after pairing"_s, u"Anna"_s));
}

TEST_F(SyncPairingTest, WindowLengthIsAnnouncedInWholeMinutes) {
    a.boot();
    const std::pair<std::chrono::seconds, QString> cases[] = {
        {180s, u"Pairing open for 3 minutes"_s},
        {90s, u"Pairing open for 1 minutes"_s},
        {59s, u"Pairing open for 0 minutes"_s},
    };
    for (const auto& [duration, line] : cases) {
        a.openPairing(duration);
        EXPECT_EQ(a.service->lastEvent(), line);
    }
    // No listener yet: nothing to link to, even with a code open.
    EXPECT_FALSE(a.service->pairingCode().isEmpty());
    EXPECT_FALSE(a.service->pairingURL());
    a.service->endPairing();
    EXPECT_TRUE(a.service->pairingCode().isEmpty());
}

TEST_F(SyncPairingTest, WrongCodePairsNothingAndTheHostSaysWhy) {
    bootAll({&a, &b});
    QString wrong = a.openPairing(180s);
    b.discovery.announce({a.advertised()});
    ASSERT_TRUE(QTest::qWaitFor([&] { return b.service->discoveredUnpaired() == 1; }, kWaitMs));
    wrong[0] = wrong[0] == u'A' ? u'B' : u'A';

    EXPECT_EQ(b.join(wrong), u"Pairing request sent"_s);
    // A closes the connection once it has turned the request away; B has
    // heard all A sent by the time it sees the close.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return log.contains(u"wrong pairing code, or this device is not paired"_s); },
        kWaitMs));
    ASSERT_TRUE(QTest::qWaitFor([&] { return b.service->pendingJoins() == 0; }, kWaitMs));
    EXPECT_TRUE(a.service->peers().isEmpty());
    EXPECT_TRUE(b.service->peers().isEmpty());
    // The window stays open for the right code.
    EXPECT_FALSE(a.service->pairingCode().isEmpty());
}

TEST_F(SyncPairingTest, OneWindowPairsOneDeviceAndAClosedWindowNone) {
    bootAll({&a, &b, &c});
    const QString code = a.openPairing(180s);
    for (SyncTestDevice* joiner : {&b, &c})
        joiner->discovery.announce({a.advertised()});
    ASSERT_TRUE(QTest::qWaitFor([&] { return c.service->discoveredUnpaired() == 1; }, kWaitMs));

    b.join(code);
    ASSERT_TRUE(QTest::qWaitFor([&] { return knows(a, b) && knows(b, a); }, kWaitMs));
    c.join(code);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return log.contains(u"wrong pairing code, or this device is not paired"_s); },
        kWaitMs));
    EXPECT_EQ(a.service->peers().size(), 1);
    EXPECT_TRUE(c.service->peers().isEmpty());

    // A window that ran out is as closed as one that paired.
    const QString expiring = a.openPairing(1s);
    ASSERT_TRUE(QTest::qWaitFor([&] { return a.service->pairingCode().isEmpty(); }, 3000));
    const QString refused = u"wrong pairing code, or this device is not paired"_s;
    const int refusals = log.count(refused);
    c.join(expiring);
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.count(refused) > refusals; }, kWaitMs));
    ASSERT_TRUE(QTest::qWaitFor([&] { return c.service->pendingJoins() == 0; }, kWaitMs));
    EXPECT_EQ(a.service->peers().size(), 1);
    EXPECT_TRUE(c.service->peers().isEmpty());
}

TEST_F(SyncPairingTest, JoiningWithoutAnyoneToAskSendsNothing) {
    // Anna is already paired with Bert: she is nobody to ask.
    pair(a, b);
    bootAll({&a, &b});
    const QString code = a.openPairing(180s);
    b.discovery.announce({a.advertised()});
    QTest::qWait(50);
    EXPECT_EQ(b.join(code), u"No device is waiting to pair on this network"_s);
}

TEST_F(SyncPairingTest, PastedLinkReachesTheHostWithoutDiscovery) {
    bootAll({&a, &b});
    a.openPairing(180s);
    // The host listens on loopback only: its link must say so, not name
    // this machine's other addresses where nothing answers.
    const QString link = a.service->pairingURL().value();
    EXPECT_EQ(link, loopbackLink(a));
    ASSERT_TRUE(
        link.startsWith(u"tindrel://pair?code="_s + a.service->pairingCode() + u"&port="_s));

    EXPECT_EQ(b.join(link), u"Pairing request sent"_s);
    ASSERT_TRUE(QTest::qWaitFor([&] { return knows(a, b) && knows(b, a); }, kWaitMs));
    // Bert never saw Anna on the network; the link's address is dialled again.
    ASSERT_TRUE(QTest::qWaitFor([&] { return a.connectedTo(b) && b.connectedTo(a); }, kWaitMs));
}

// A host that holds all the devices it can refuses, and says why on both sides.
TEST_F(SyncPairingTest, AFullHostAnswersTheJoinerWithTheReason) {
    SyncPeerStore store(a.settings, a.clock);
    for (int i = 0; store.peers().size() < SyncPeerStore::maxDevices; ++i)
        ASSERT_TRUE(store.upsert(SyncDevice{u"D"_s + QString::number(i),
                                            u"d"_s,
                                            QString::fromLatin1(QByteArray(32, 'k').toBase64()),
                                            {},
                                            {},
                                            {}}));
    bootAll({&a, &b});
    a.openPairing(180s);
    EXPECT_EQ(b.join(a.service->pairingURL().value()), u"Pairing request sent"_s);
    const QString reason = u"This computer already has the most paired devices it can hold"_s;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return b.service->lastEvent() == u"Anna refused to pair: "_s + reason; }, kWaitMs))
        << b.service->lastEvent().toStdString();
    EXPECT_EQ(a.service->lastEvent(), u"Refused to pair with Bert: "_s + reason + u" (64)"_s);
    EXPECT_FALSE(knows(a, b));
    EXPECT_FALSE(knows(b, a));
}

TEST_F(SyncPairingTest, ALinkThatDoesNotParseSaysSoAndSendsNothing) {
    bootAll({&a, &b});
    const QString code = a.openPairing(180s);
    const QString port = QString::number(a.service->listenerPort());
    const QString broken[] = {
        u"tindrel://pair?code="_s + code + u"&port=0&hosts=127.0.0.1"_s,
        u"tindrel://pair?code="_s + code + u"&port="_s + port + u"&hosts=localhost"_s,
        u"tindrel://pair?code="_s + code + u"&port="_s + port + u"&hosts="_s,
        u"tindrel://pair?port="_s + port + u"&hosts=127.0.0.1"_s,
        u"https://pair?code="_s + code + u"&port="_s + port + u"&hosts=127.0.0.1"_s,
    };
    for (const QString& text : broken)
        EXPECT_EQ(b.join(text), u"This pairing link is not valid — copy the whole link again"_s)
            << text.toStdString();
    // A good link afterwards: had any of the broken ones dialled, A would
    // have taken more than this one caller while its window was open.
    EXPECT_EQ(b.join(a.service->pairingURL().value()), u"Pairing request sent"_s);
    ASSERT_TRUE(QTest::qWaitFor([&] { return knows(a, b); }, kWaitMs));
    EXPECT_EQ(log.count(u"pairing=true"_s), 1);
    EXPECT_EQ(a.service->peers().size(), 1);
}

TEST_F(SyncPairingTest, OnlyAWellFormedPairFromAnotherDeviceOnAPairingConnectionIsStored) {
    // Bert is paired already; his connection is not a pairing one.
    pair(a, b);
    bootAll({&a});
    const QByteArray pairingKey = SyncCrypto::pairingKey(a.openPairing(180s)).value();
    const QString cleoKey = c.identity.deviceKeyBase64();
    const QString shortKey = QString::fromLatin1(QByteArray(16, 'k').toBase64());

    struct Case {
        const char* what;
        QByteArray key;
        SyncMessage message;
    };
    const Case refused[] = {
        {"our own id", pairingKey, SyncMessage::pair(a.identity.deviceId(), u"Me"_s, cleoKey)},
        {"a key of 16 bytes", pairingKey, SyncMessage::pair(u"C1"_s, u"Cleo"_s, shortKey)},
        {"a key that is not Base64", pairingKey, SyncMessage::pair(u"C1"_s, u"Cleo"_s, u"%%"_s)},
        {"an id of 65 characters", pairingKey,
         SyncMessage::pair(QString(65, u'x'), u"Cleo"_s, cleoKey)},
        {"a paired connection", b.sessionKeyWith(a),
         SyncMessage::pair(u"C1"_s, u"Cleo"_s, cleoKey)},
    };
    // The good request follows the bad ones on the same connection: it is
    // answered only while the window is still open, and by then A has acted
    // on all that came before. A paired connection that opens with anything
    // but a hello is closed instead, which marks its end just as well.
    RawPeer cleo(a, pairingKey);
    for (const Case& bad : refused) {
        if (bad.key == pairingKey) {
            cleo.send(bad.message);
            continue;
        }
        RawPeer peer(a, bad.key);
        peer.send(bad.message);
        ASSERT_TRUE(QTest::qWaitFor([&] { return peer.isClosed(); }, kWaitMs)) << bad.what;
        EXPECT_EQ(a.service->peers().size(), 1) << bad.what;
        EXPECT_FALSE(a.service->pairingCode().isEmpty()) << bad.what;
    }

    cleo.send(SyncMessage::pair(c.identity.deviceId(), u"Cleo\u0007 the second"_s, cleoKey));
    ASSERT_TRUE(cleo.waitForType(SyncMessageType::pair)) << "a refused request closed the window";
    const SyncMessage answer = cleo.messages().first();
    EXPECT_EQ(answer.deviceId, a.identity.deviceId());
    EXPECT_EQ(answer.deviceKey, a.identity.deviceKeyBase64());
    EXPECT_EQ(a.service->peers().size(), 2);
    EXPECT_EQ(a.service->peers().last().name, u"Cleo the second"_s);
    EXPECT_TRUE(a.service->pairingCode().isEmpty());
    EXPECT_TRUE(QTest::qWaitFor([&] { return cleo.isClosed(); }, kWaitMs));
}

// The key costs 200,000 HMAC rounds: it is derived on a worker, and a window
// cancelled, replaced or stopped meanwhile must not open when it arrives.
TEST_F(SyncPairingTest, AWindowOpensOnlyOnceItsKeyArrivesAndNotAfterItWasCancelled) {
    bootAll({&a, &b});
    QSignalSpy published(a.service.get(), &SyncService::pairingCodeChanged);
    // A derived key comes back as a queued call, posted before its task
    // ends: once the pool is idle, delivering what is queued hands it over.
    const auto settle = [] {
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::sendPostedEvents();
    };

    a.service->startPairing(180s);
    EXPECT_TRUE(a.service->isPreparingPairing());
    EXPECT_TRUE(a.service->pairingCode().isEmpty()) << "published before its key existed";
    a.service->endPairing();
    EXPECT_FALSE(a.service->isPreparingPairing());
    settle();
    EXPECT_TRUE(a.service->pairingCode().isEmpty());
    EXPECT_EQ(published.size(), 0);

    // Asked twice: only the second window opens.
    a.service->startPairing(60s);
    a.service->startPairing(180s);
    // Two keys derived at once, on a machine the sanitizers or other tests
    // may keep busy: a bound well past that, which ends when the code shows.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !a.service->pairingCode().isEmpty(); }, 6 * kWaitMs));
    settle();
    EXPECT_EQ(published.size(), 1);
    EXPECT_EQ(log.messages().count(u"Pairing open for 1 minutes"_s), 0);
    EXPECT_EQ(a.service->lastEvent(), u"Pairing open for 3 minutes"_s);
    a.service->endPairing();

    // Stopping drops a window still being prepared, and a join still
    // deriving its key sends nothing. A code never seen before: a cached
    // key would be there at once.
    a.service->startPairing(180s);
    b.discovery.announce({a.advertised()});
    ASSERT_TRUE(QTest::qWaitFor([&] { return b.service->discoveredUnpaired() == 1; }, kWaitMs));
    a.prefs.setSyncEnabled(false);
    b.service->joinPairing(PairingCode::generate().value());
    b.prefs.setSyncEnabled(false);
    settle();
    EXPECT_TRUE(a.service->pairingCode().isEmpty());
    EXPECT_FALSE(a.service->isPreparingPairing());
    EXPECT_EQ(b.service->lastEvent(), u"Sync stopped"_s);
    EXPECT_FALSE(log.contains(u"Pairing request sent"_s));
}
