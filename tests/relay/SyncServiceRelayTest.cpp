#include "RelayClients.h"
#include "RelayProcess.h"
#include "core/store/Clip.h"
#include "support/SyncLogCapture.h"
#include "support/SyncTestDevice.h"

#include <QTest>
#include <gtest/gtest.h>

// Two sync services that reach each other through a real tindrel-relay
// process, and also directly where the test lets them find each other.

using namespace Qt::StringLiterals;

namespace {

class SyncServiceRelayTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(relay.start());
        pair(a, b);
        for (SyncTestDevice* device : {&a, &b}) {
            device->prefs.setRelayEnabled(true);
            // Spaces and one trailing slash are the user's, not the URL's.
            device->prefs.setRelayURL(u" ws://127.0.0.1:"_s + QString::number(relay.port()) +
                                      u"/ "_s);
        }
    }
    bool relayUp() {
        return QTest::qWaitFor(
            [&] {
                return a.service->relayConnectedPeerIds() == QStringList{b.identity.deviceId()} &&
                       b.service->relayConnectedPeerIds() == QStringList{a.identity.deviceId()};
            },
            kWaitMs);
    }

    // Both running, in the relay's room and connected directly.
    bool linkedBothWays() {
        a.boot();
        b.boot();
        a.start();
        b.start();
        if (!relayUp())
            return false;
        b.discovery.announce({a.advertised()});
        return QTest::qWaitFor([&] { return b.connectedTo(a) && a.connectedTo(b); }, kWaitMs);
    }

    SyncLogCapture log;
    RelayProcess relay;
    SyncTestDevice a{u"Anna"_s};
    SyncTestDevice b{u"Bert"_s};
};
} // namespace

TEST_F(SyncServiceRelayTest, ALinkThatComesUpBringsPinsAndClipsFollow) {
    a.pins = {{{u"pinned on Anna"_s, 1'700'000'000.0}}, {}};
    a.boot();
    b.boot();
    // Anna is in the room well before Bert: what she sent on joining found
    // nobody there, and Bert must still get her pins.
    a.start();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return !a.service->relayConnectedPeerIds().isEmpty(); }, kWaitMs));
    QTest::qWait(200);
    b.start();
    ASSERT_TRUE(relayUp());
    EXPECT_TRUE(log.contains(u"Relay enabled for 1 device(s)"_s));

    ASSERT_TRUE(QTest::qWaitFor([&] { return !b.receivedPins.isEmpty(); }, kWaitMs));
    EXPECT_EQ(b.receivedPins.first().pins, a.pins.first);
    EXPECT_EQ(b.receivedPins.first().from, a.identity.deviceId());

    a.service->broadcast(Clip::make(u"via the relay"_s, Instant::fromUnix(1.7e9)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !b.received.isEmpty(); }, kWaitMs));
    EXPECT_EQ(b.received.first(), std::pair(u"via the relay"_s, u"Anna"_s));
    EXPECT_EQ(b.service->lastEvent(), u"Received a clip via relay from Anna"_s);

    // Pausing the device closes its link.
    b.service->setEnabled(false, b.service->peers().first());
    EXPECT_TRUE(b.service->relayConnectedPeerIds().isEmpty());
    a.service->broadcast(Clip::make(u"not while paused"_s, Instant::fromUnix(1.7e9)));
    // A fixed wait: Bert's link is gone, so no later marker can come that way.
    QTest::qWait(200);
    EXPECT_EQ(b.received.size(), 1);
}

TEST_F(SyncServiceRelayTest, AClipThatComesBothWaysIsHandedOverOnce) {
    ASSERT_TRUE(linkedBothWays());

    for (int i = 0; i < 5; ++i)
        a.service->broadcast(
            Clip::make(u"twice "_s + QString::number(i), Instant::fromUnix(1.7e9)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return b.received.size() >= 5; }, kWaitMs));
    // Long enough for the slower path's copies to have come in too. A fixed
    // wait: a marker would be taken from whichever path is faster, and its
    // copy on the other one is dropped without a trace.
    QTest::qWait(300);
    EXPECT_EQ(b.received.size(), 5);
}

// The relay sees nothing of a device reached directly, not even the size and
// time of a copy; once the direct link is gone it carries the next clip.
TEST_F(SyncServiceRelayTest, TheRelayCarriesNothingForADeviceReachedDirectly) {
    ASSERT_TRUE(linkedBothWays());
    // Whoever else is in the room sees what the relay forwards there.
    Client watcher;
    ASSERT_TRUE(watcher.open(relay.url(SyncCrypto::roomId(a.sessionKeyWith(b)), u"W"_s)));

    for (int i = 0; i < 5; ++i)
        a.service->broadcast(Clip::make(u"direct "_s + QString::number(i), a.clock.now()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return b.received.size() == 5; }, kWaitMs));
    EXPECT_EQ(b.service->lastEvent(), u"Received a clip from Anna"_s);
    b.service->broadcast(Clip::make(u"back to Anna"_s, b.clock.now()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return a.received.size() == 1; }, kWaitMs));
    EXPECT_TRUE(watcher.binary.isEmpty());

    for (SyncConnection* connection : a.service->findChildren<SyncConnection*>())
        connection->close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !a.connectedTo(b) && !b.connectedTo(a); }, kWaitMs));
    a.service->broadcast(Clip::make(u"over the relay"_s, a.clock.now()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return b.received.size() == 6; }, kWaitMs));
    EXPECT_EQ(b.service->lastEvent(), u"Received a clip via relay from Anna"_s);
    EXPECT_EQ(watcher.binary.size(), 1);
}

TEST_F(SyncServiceRelayTest, AnUnusableRelayAddressOpensNoLink) {
    a.prefs.setRelayURL(u"ftp://relay.example"_s);
    a.boot();
    a.start();
    EXPECT_TRUE(log.contains(u"Relay URL is not valid"_s));
    EXPECT_FALSE(log.contains(u"Relay enabled"_s));
    EXPECT_TRUE(a.service->isRunning());
}
