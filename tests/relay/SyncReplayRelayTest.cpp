#include "RelayClients.h"
#include "RelayProcess.h"
#include "core/store/Clip.h"
#include "core/sync/ReplayGuard.h"
#include "core/sync/SyncPeerStore.h"
#include "core/sync/SyncProtocol.h"
#include "support/SyncLogCapture.h"
#include "support/SyncTestDevice.h"

#include <QTest>
#include <gtest/gtest.h>

// Someone without a key in a paired couple's relay room (the room name is no
// secret from the relay's operator) records what passes and sends it again
// later, through a real tindrel-relay process.

using namespace Qt::StringLiterals;

namespace {

class SyncReplayRelayTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(relay.start());
        pair(a, b);
    }
    // Both on the relay alone, Mallory in their room; `guarded` as two
    // devices of this version that met before.
    void meetInTheRoom(bool guarded) {
        for (auto [device, other] : {std::pair(&a, &b), std::pair(&b, &a)}) {
            if (guarded)
                SyncPeerStore(device->settings, device->clock)
                    .setSpeaks(other->identity.deviceId(), SyncProtocol::version,
                               SyncProtocol::capabilities());
            device->prefs.setRelayEnabled(true);
            device->prefs.setRelayURL(u"ws://127.0.0.1:"_s + QString::number(relay.port()));
            device->boot();
            device->start();
        }
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return a.service->relayConnectedPeerIds().size() == 1 &&
                       b.service->relayConnectedPeerIds().size() == 1;
            },
            kWaitMs));
        ASSERT_TRUE(mallory.open(relay.url(SyncCrypto::roomId(key()), u"M"_s)));
    }

    QByteArray key() const { return a.sessionKeyWith(b); }

    SyncLogCapture log;
    RelayProcess relay;
    SyncTestDevice a{u"Anna"_s};
    SyncTestDevice b{u"Bert"_s};
    Client mallory;
};

} // namespace

TEST_F(SyncReplayRelayTest, AClipRecordedInTheRoomAndSentAgainIsRefused) {
    ASSERT_NO_FATAL_FAILURE(meetInTheRoom(false));

    b.service->broadcast(Clip::make(u"old password"_s, b.clock.now()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return a.received.size() == 1; }, kWaitMs));
    ASSERT_TRUE(mallory.waitForBinary(1));
    const QByteArray secret = mallory.binary.last();
    // Enough later copies to push its text out of the recent hashes.
    for (int i = 0; i < SyncService::recentHashLimit; ++i)
        b.service->broadcast(Clip::make(u"later "_s + QString::number(i), b.clock.now()));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return a.received.size() == SyncService::recentHashLimit + 1; }, kWaitMs));

    mallory.ws.sendBinaryMessage(secret);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return log.contains(u"a clip from Bert came a second time — refused as played back"_s);
        },
        kWaitMs));
    // And once its time is past the window.
    a.clock.advance(ReplayGuard::maxAge + 1.0);
    mallory.ws.sendBinaryMessage(secret);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return log.contains(u"a clip from Bert was made more than 15 minutes ago"_s); },
        kWaitMs));
    // Bert's next clip still comes through the same room.
    b.clock.advance(ReplayGuard::maxAge + 1.0);
    b.service->broadcast(Clip::make(u"new"_s, b.clock.now()));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return a.received.size() == SyncService::recentHashLimit + 2; }, kWaitMs));
    EXPECT_EQ(a.received.last().first, u"new"_s);
}

// Between devices that both named the guard, any message is refused when it
// comes again, not only a clip inside its time window.
TEST_F(SyncReplayRelayTest, BetweenGuardedDevicesAPinSnapshotSentAgainIsRefused) {
    ASSERT_NO_FATAL_FAILURE(meetInTheRoom(true));

    b.pins = {{{u"pinned"_s, b.clock.now().unix()}}, {}};
    b.service->broadcastPins();
    const auto isPins = [&](const QByteArray& frame) {
        const auto message = SyncMessage::open(frame, key());
        return message && message->type == SyncMessageType::pins && message->pins &&
               !message->pins->isEmpty();
    };
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return std::any_of(mallory.binary.cbegin(), mallory.binary.cend(), isPins); },
        kWaitMs));
    const QByteArray snapshot =
        *std::find_if(mallory.binary.cbegin(), mallory.binary.cend(), isPins);
    EXPECT_EQ(SyncMessage::open(snapshot, key())->via, u"relay"_s);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !a.receivedPins.isEmpty() && !a.receivedPins.last().pins.isEmpty(); },
        kWaitMs));
    const qsizetype taken = a.receivedPins.size();

    mallory.ws.sendBinaryMessage(snapshot);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return log.contains(u"a pins message from Bert on the relay link did not carry a newer "
                                "stamp — refused as played back"_s);
        },
        kWaitMs));
    EXPECT_EQ(a.receivedPins.size(), taken);
}
