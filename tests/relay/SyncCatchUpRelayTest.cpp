#include "RelayClients.h"
#include "RelayProcess.h"
#include "core/store/Clip.h"
#include "core/sync/SyncPeerStore.h"
#include "core/sync/SyncProtocol.h"
#include "support/SyncLogCapture.h"
#include "support/SyncTestDevice.h"

#include <QTest>
#include <gtest/gtest.h>

// Two devices that reach each other only through a real tindrel-relay
// process: no copy is lost while the relay, or one of them, is away.

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

class SyncCatchUpRelayTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(relay.start());
        pair(a, b);
        // As a pairing of two devices of this version leaves them: what each
        // speaks, and when they last saw each other.
        for (auto [device, other] : {std::pair(&a, &b), std::pair(&b, &a)}) {
            SyncPeerStore store(device->settings, device->clock);
            store.setSpeaks(other->identity.deviceId(), SyncProtocol::version,
                            SyncProtocol::capabilities());
            store.touch(other->identity.deviceId());
        }
        SyncService::Options options;
        // A link that failed waits two minutes on its own; only the relay's
        // return, seen by the probe, brings it back within the test.
        options.relayTiming.backoffUnit = 60s;
        options.relayProbeTiming.interval = 100ms;
        for (SyncTestDevice* device : {&a, &b}) {
            device->prefs.setRelayEnabled(true);
            device->prefs.setRelayURL(u"ws://127.0.0.1:"_s + QString::number(relay.port()));
            device->boot(options);
        }
    }
    bool relayUp() {
        return QTest::qWaitFor(
            [&] {
                return a.service->relayConnectedPeerIds().size() == 1 &&
                       b.service->relayConnectedPeerIds().size() == 1;
            },
            10000);
    }
    Clip copyOnAnna(const QString& text) {
        a.clock.advance(1.0);
        return Clip::make(text, a.clock.now());
    }

    SyncLogCapture log;
    RelayProcess relay;
    SyncTestDevice a{u"Anna"_s};
    SyncTestDevice b{u"Bert"_s};
};

} // namespace

TEST_F(SyncCatchUpRelayTest, CopiesMadeWhileTheRelayWasDownArriveWhenItIsBack) {
    a.start();
    b.start();
    ASSERT_TRUE(relayUp());
    a.service->broadcast(copyOnAnna(u"before"_s));
    ASSERT_TRUE(QTest::qWaitFor([&] { return b.received.size() == 1; }, kWaitMs));

    const quint16 port = relay.port();
    relay.kill();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return a.service->relayConnectedPeerIds().isEmpty() &&
                   b.service->relayConnectedPeerIds().isEmpty();
        },
        kWaitMs));
    for (int i = 1; i <= 3; ++i)
        a.service->broadcast(copyOnAnna(u"while the relay was down "_s + QString::number(i)));
    ASSERT_TRUE(relay.start(port));
    ASSERT_TRUE(relayUp());
    ASSERT_TRUE(QTest::qWaitFor([&] { return b.received.size() == 2; }, kWaitMs));
    EXPECT_EQ(b.recorded.size(), 2);
    EXPECT_EQ(b.recorded.first().first, u"while the relay was down 1"_s);
    EXPECT_EQ(b.received.last().first, u"while the relay was down 3"_s);
    EXPECT_TRUE(log.contains(u"the relay answers again"_s));
}

TEST_F(SyncCatchUpRelayTest, ADeviceThatWasAwayGetsWhatItMissedThroughTheRelay) {
    a.start();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return !a.service->relayConnectedPeerIds().isEmpty(); }, kWaitMs));
    // Bert has never been in the room with Anna this run: she goes by when
    // she last saw him, which is before these.
    for (int i = 1; i <= 2; ++i)
        a.service->broadcast(copyOnAnna(u"made alone "_s + QString::number(i)));
    b.start();
    ASSERT_TRUE(relayUp());
    ASSERT_TRUE(QTest::qWaitFor([&] { return b.received.size() == 1; }, kWaitMs));
    EXPECT_EQ(b.recorded, (QList<std::pair<QString, QString>>{{u"made alone 1"_s, u"Anna"_s}}));
    EXPECT_EQ(b.received.first(), std::pair(u"made alone 2"_s, u"Anna"_s));
}
