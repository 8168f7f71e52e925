#include "RelayClients.h"
#include "RelayProcess.h"
#include "core/sync/PairingCode.h"
#include "core/sync/PairingLink.h"
#include "support/SyncLogCapture.h"
#include "support/SyncRawPeer.h"
#include "support/SyncTestDevice.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <functional>
#include <gtest/gtest.h>

// Pairing through a real tindrel-relay process when the joiner cannot reach
// the host directly: the pasted link names only the relay.

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {
class SyncPairingRelayTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(relay.start());
        relayURL = u"ws://127.0.0.1:"_s + QString::number(relay.port());
        for (SyncTestDevice* device : {&a, &b}) {
            device->prefs.setRelayEnabled(true);
            device->prefs.setRelayURL(relayURL);
            device->boot();
            device->start();
        }
    }
    static bool knows(const SyncTestDevice& device, const SyncTestDevice& other) {
        const QList<SyncDevice> peers = device.service->peers();
        return peers.size() == 1 && peers.first().id == other.identity.deviceId() &&
               peers.first().keyBase64 == other.identity.deviceKeyBase64();
    }

    SyncLogCapture log;
    RelayProcess relay;
    QString relayURL;
    SyncTestDevice a{u"Anna"_s};
    SyncTestDevice b{u"Bert"_s};
};
} // namespace

TEST_F(SyncPairingRelayTest, ALinkNamingOnlyTheRelayPairsAndBringsUpTheirRelayLinks) {
    a.openPairing(180s);
    EXPECT_EQ(a.service->lastEvent(), u"Pairing open for 3 minutes"_s);
    const QStringList lines = log.messages();
    EXPECT_GT(lines.indexOf(u"Pairing open for 3 minutes"_s),
              lines.indexOf(u"Pairing is also open over the relay"_s));
    ASSERT_TRUE(a.service->pairingURL()->contains(u"&relay="_s));
    // Let Anna's pairing link reach the room first: the relay keeps nothing
    // for a member that comes later.
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return log.contains(u"relay connected for pairing"_s); }, kWaitMs));

    // No host addresses: only the relay leads to Anna.
    const QString link = PairingLink::make(a.service->pairingCode(),
                                           quint16(a.service->listenerPort()), {}, true, relayURL)
                             .value();
    EXPECT_EQ(b.join(link), u"Pairing request sent"_s);

    ASSERT_TRUE(QTest::qWaitFor([&] { return knows(a, b) && knows(b, a); }, kWaitMs));
    EXPECT_TRUE(a.service->pairingCode().isEmpty());
    // Each now has a relay link to the other under their shared key.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return a.service->relayConnectedPeerIds() == QStringList{b.identity.deviceId()} &&
                   b.service->relayConnectedPeerIds() == QStringList{a.identity.deviceId()};
        },
        kWaitMs));
}

// Joining by a typed code with a relay set: the code's room on the relay is
// asked as well as every unpaired device found on the network, and the
// first answer wins.
namespace {
const QString kNoAnswer = u"No device answered the code "_s;
// A join the relay leaves unanswered ends only after the joiner has waited
// there for an answer (5 s), counted from reaching the relay, whose process
// the sanitizers slow several times over. A bound, not a timing: the wait
// ends as soon as the join does.
constexpr int kJoinEndMs = 12 * kWaitMs;

struct CodeJoin {
    explicit CodeJoin(const QString& relayURL, const QString& joinerRelayURL) {
        a.prefs.setRelayEnabled(true);
        a.prefs.setRelayURL(relayURL);
        b.prefs.setRelayEnabled(true);
        b.prefs.setRelayURL(joinerRelayURL);
        for (SyncTestDevice* device : {&a, &b}) {
            device->boot();
            device->start();
        }
    }
    SyncTestDevice a{u"Anna"_s};
    SyncTestDevice b{u"Bert"_s};
};
} // namespace

TEST(SyncJoinByCodeTest, TheFirstPathToAnswerPairsOnceAndTheJoinSaysWhatCameOfIt) {
    SyncLogCapture log;
    RelayProcess relay;
    ASSERT_TRUE(relay.start());
    const QString relayURL = u"ws://127.0.0.1:"_s + QString::number(relay.port());
    // A port nothing listens on.
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const QString deadRelay = u"ws://127.0.0.1:"_s + QString::number(closed.serverPort());
    closed.close();

    struct Case {
        const char* what;
        bool windowOpen;
        bool onNetwork; // Bert has found Anna on the network
        bool relayReachable;
        QString outcome;
    };
    const Case cases[] = {
        {"only the relay leads to the host", true, false, true, u"Paired with Anna"_s},
        {"the relay cannot be reached, the network can", true, true, false, u"Paired with Anna"_s},
        {"both paths, window closed", false, true, true,
         kNoAnswer + u"on this network or over the relay"_s},
        {"only the relay, window closed", false, false, true, kNoAnswer + u"over the relay"_s},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CodeJoin join(relayURL, c.relayReachable ? relayURL : deadRelay);
        SyncTestDevice& a = join.a;
        SyncTestDevice& b = join.b;
        const int hostLinks = log.count(u"relay connected for pairing"_s);
        const QString code = a.openPairing();
        ASSERT_FALSE(code.isEmpty());
        // The relay keeps nothing for a member that comes later.
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return log.count(u"relay connected for pairing"_s) > hostLinks; }, kWaitMs));
        if (!c.windowOpen)
            a.service->endPairing();
        if (c.onNetwork) {
            b.discovery.announce({a.advertised()});
            ASSERT_TRUE(
                QTest::qWaitFor([&] { return b.service->discoveredUnpaired() == 1; }, kWaitMs));
        }
        QSignalSpy hostPaired(a.service.get(), &SyncService::paired);
        QSignalSpy joinerPaired(b.service.get(), &SyncService::paired);
        QSignalSpy ended(b.service.get(), &SyncService::joinEnded);
        // Only Bert says these lines; the log holds every case's.
        const int said = log.count(c.outcome);

        EXPECT_EQ(b.join(PairingCode::format(code)), u"Pairing request sent"_s);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !ended.isEmpty(); }, kJoinEndMs));
        EXPECT_EQ(ended.first().first().toString(), c.outcome);
        // Whatever was still on its way has arrived by now. A fixed wait: the
        // join is over and both its paths are closed, so no later marker can
        // come along them.
        QTest::qWait(300);
        EXPECT_EQ(ended.size(), 1);
        EXPECT_EQ(b.service->pendingJoins(), 0);
        const int pairings = c.windowOpen ? 1 : 0;
        EXPECT_EQ(hostPaired.size(), pairings);
        EXPECT_EQ(joinerPaired.size(), pairings);
        EXPECT_EQ(a.service->peers().size(), pairings);
        EXPECT_EQ(b.service->peers().size(), pairings);
        EXPECT_EQ(log.count(c.outcome), said + 1);
    }
}

// The host answers on both paths (an older host, or two windows with one
// code): whichever answer comes second finds the join over and pairs
// nothing more.
TEST(SyncJoinByCodeTest, AnAnswerOnTheOtherPathAfterThePairingIsIgnored) {
    SyncLogCapture log;
    RelayProcess relay;
    ASSERT_TRUE(relay.start());
    SyncTestDevice anna{u"Anna"_s}; // only her identity: the test answers for her
    const QString code = PairingCode::generate().value();
    const QByteArray key = SyncCrypto::pairingKey(code).value();
    const QByteArray answer =
        SyncMessage::pair(anna.identity.deviceId(), anna.identity.deviceName(),
                          anna.identity.deviceKeyBase64())
            .seal(key)
            .value();

    for (const bool networkFirst : {true, false}) {
        SCOPED_TRACE(networkFirst ? "the network answers first" : "the relay answers first");
        SyncTestDevice b{u"Bert"_s};
        b.prefs.setRelayEnabled(true);
        b.prefs.setRelayURL(u"ws://127.0.0.1:"_s + QString::number(relay.port()));
        b.boot();
        b.start();

        // Anna's side on the network: takes Bert's request and holds it.
        QTcpServer lan;
        ASSERT_TRUE(lan.listen(QHostAddress::LocalHost));
        b.discovery.announce({{u"Anna"_s,
                               {{u"did"_s, anna.identity.deviceId()}},
                               {QHostAddress::LocalHost},
                               lan.serverPort()}});
        ASSERT_TRUE(QTest::qWaitFor([&] { return b.service->discoveredUnpaired() == 1; }, kWaitMs));
        // Anna's side on the relay, in the code's room.
        Client room;
        ASSERT_TRUE(room.open(relay.url(SyncCrypto::pairingRoomId(key), u"anna"_s)));

        QSignalSpy paired(b.service.get(), &SyncService::paired);
        const int said = log.count(u"Paired with Anna"_s);
        EXPECT_EQ(b.join(code), u"Pairing request sent"_s);
        ASSERT_TRUE(QTest::qWaitFor([&] { return lan.hasPendingConnections(); }, kWaitMs));
        std::unique_ptr<QTcpSocket> dial(lan.nextPendingConnection());
        ASSERT_TRUE(QTest::qWaitFor([&] { return dial->bytesAvailable() > 0; }, kWaitMs));
        ASSERT_TRUE(room.waitForBinary(1)) << "the code was not taken to the relay";

        const std::function<void()> answerOnNetwork = [&] {
            dial->write(frameOf(answer));
            dial->flush();
        };
        const std::function<void()> answerOnRelay = [&] { room.ws.sendBinaryMessage(answer); };
        (networkFirst ? answerOnNetwork : answerOnRelay)();
        ASSERT_TRUE(QTest::qWaitFor([&] { return paired.size() == 1; }, kWaitMs));
        // The other request is withdrawn at once.
        EXPECT_EQ(b.service->pendingJoins(), 0);
        (networkFirst ? answerOnRelay : answerOnNetwork)();
        // A fixed wait: Bert has withdrawn from that path, so no later marker
        // can reach him along it.
        QTest::qWait(300);
        EXPECT_EQ(paired.size(), 1);
        EXPECT_EQ(log.count(u"Paired with Anna"_s), said + 1);
    }
}

// Bert typed the code before he had found Anna on the network, and Anna
// is not on his relay: while his request waits there, Anna turning up on
// the network is asked too.
TEST(SyncJoinByCodeTest, AHostFoundWhileTheRelayWaitsIsAskedToo) {
    SyncLogCapture log;
    RelayProcess relay;
    ASSERT_TRUE(relay.start());
    SyncTestDevice a{u"Anna"_s};
    SyncTestDevice b{u"Bert"_s};
    b.prefs.setRelayEnabled(true);
    b.prefs.setRelayURL(u"ws://127.0.0.1:"_s + QString::number(relay.port()));
    for (SyncTestDevice* device : {&a, &b}) {
        device->boot();
        device->start();
    }
    const QString code = a.openPairing();
    ASSERT_FALSE(code.isEmpty());
    QSignalSpy ended(b.service.get(), &SyncService::joinEnded);

    EXPECT_EQ(b.join(code), u"Pairing request sent"_s);
    ASSERT_EQ(b.service->pendingJoins(), 1);
    b.discovery.announce({a.advertised()});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !ended.isEmpty(); }, kJoinEndMs));
    EXPECT_EQ(ended.first().first().toString(), u"Paired with Anna"_s);
    EXPECT_EQ(a.service->peers().size(), 1);
}
