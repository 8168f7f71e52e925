#include "core/prefs/Preferences.h"
#include "core/store/Clip.h"
#include "core/sync/SyncConnection.h"
#include "core/sync/SyncCrypto.h"
#include "core/sync/SyncPeerStore.h"
#include "core/sync/SyncProtocol.h"
#include "core/sync/SyncService.h"
#include "support/SyncLogCapture.h"
#include "support/SyncRawPeer.h"
#include "support/SyncTestDevice.h"

#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

// Copies made while the other device could not be reached: kept, asked for
// when it is back, and handed over in order, once. Two whole services over
// loopback, DNS-SD played by the test.

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

constexpr int kWaitMs = 5000;
// After the devices' clocks start: turning sync on counts as resuming it, and
// nothing copied before that is caught up on.
constexpr double t0 = 1'700'000'100.0;

using Clips = QList<std::pair<QString, QString>>;

Clip clipAt(const QString& text, double at) {
    return Clip::make(text, Instant::fromUnix(at));
}

class SyncCatchUpTest : public ::testing::Test {
protected:
    void SetUp() override {
        pair(a, b);
        for (SyncTestDevice* device : {&a, &b})
            boot(*device);
    }
    void boot(SyncTestDevice& device) {
        SyncService::Options options;
        options.helloTimeout = 300ms;
        options.receivedClipsPath = dir.filePath(device.identity.deviceName() + u"-received"_s);
        options.outboxPath = dir.filePath(device.identity.deviceName() + u"-outbox"_s);
        device.boot(options);
        device.start();
    }
    bool connect() {
        b.discovery.announce({a.advertised()});
        return QTest::qWaitFor([&] { return a.connectedTo(b) && b.connectedTo(a); }, kWaitMs);
    }
    // The network between them fails: every connection ends, and neither
    // dials again until Bert finds Anna anew.
    void outage() {
        for (SyncConnection* connection : a.service->findChildren<SyncConnection*>())
            connection->close();
    }
    bool bertIsGone() {
        return QTest::qWaitFor([&] { return !a.connectedTo(b) && !b.connectedTo(a); }, kWaitMs);
    }

    QTemporaryDir dir;
    SyncLogCapture log;
    SyncTestDevice a{u"Anna"_s};
    SyncTestDevice b{u"Bert"_s};
};

} // namespace

TEST_F(SyncCatchUpTest, CopiesMadeWhileTheOtherWasAwayArriveInOrderOnceItIsBack) {
    ASSERT_TRUE(connect());
    a.service->broadcast(clipAt(u"before"_s, t0));
    ASSERT_TRUE(QTest::qWaitFor([&] { return b.received.size() == 1; }, kWaitMs));

    outage();
    ASSERT_TRUE(bertIsGone());
    for (int i = 1; i <= 3; ++i)
        a.service->broadcast(clipAt(u"away "_s + QString::number(i), t0 + 100 + i));
    ASSERT_TRUE(connect());
    ASSERT_TRUE(QTest::qWaitFor([&] { return b.received.size() == 2; }, kWaitMs));
    // Oldest first into the history, the newest as the clipboard; what came
    // live before is not handed over again.
    EXPECT_EQ(b.recorded, (Clips{{u"away 1"_s, u"Anna"_s}, {u"away 2"_s, u"Anna"_s}}));
    EXPECT_EQ(b.received.last(), std::pair(u"away 3"_s, u"Anna"_s));
    EXPECT_EQ(b.service->lastEvent(),
              u"Received 3 clip(s) copied on Anna while it could not be reached"_s);

    // Anna asked too, and Bert had nothing for her; the next copy is live.
    ASSERT_TRUE(a.sendMarker(b));
    EXPECT_TRUE(a.received.isEmpty());
    EXPECT_EQ(b.received.size(), 2);
}

TEST_F(SyncCatchUpTest, TheNewestBecomesTheClipboardOnlyIfNothingNewerWasCopiedHere) {
    ASSERT_TRUE(connect());
    outage();
    ASSERT_TRUE(bertIsGone());
    // Bert never took a clip from Anna: she goes by when she last saw him.
    a.service->broadcast(clipAt(u"made away"_s, a.clock.now().unix() + 10));
    // Bert copies something himself before Anna is back: later than hers.
    b.clock.advance(3600);
    b.service->broadcast(clipAt(u"Bert's own"_s, b.clock.now().unix()));
    ASSERT_TRUE(connect());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !b.recorded.isEmpty(); }, kWaitMs));
    EXPECT_EQ(b.recorded, (Clips{{u"made away"_s, u"Anna"_s}}));
    EXPECT_TRUE(b.received.isEmpty());
}

// The receiver's program ended (kill -9, a crash, a reboot) and starts
// again: what it had taken is remembered on disk, and the copies made
// meanwhile come; the overlap it asks for again covers a history that was
// not yet saved when it ended.
TEST_F(SyncCatchUpTest, ADeviceThatStartsAgainGetsWhatWasCopiedWhileItWasDown) {
    ASSERT_TRUE(connect());
    a.service->broadcast(clipAt(u"taken long ago"_s, t0 - 600));
    a.service->broadcast(clipAt(u"taken just before"_s, t0));
    ASSERT_TRUE(QTest::qWaitFor([&] { return b.received.size() == 2; }, kWaitMs));

    b.service.reset();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !a.connectedTo(b); }, kWaitMs));
    a.service->broadcast(clipAt(u"while down"_s, t0 + 5));
    b.received.clear();
    boot(b);
    ASSERT_TRUE(connect());
    ASSERT_TRUE(QTest::qWaitFor([&] { return b.received.size() == 1; }, kWaitMs));
    EXPECT_EQ(b.recorded, (Clips{{u"taken just before"_s, u"Anna"_s}}));
    EXPECT_EQ(b.received.first(), std::pair(u"while down"_s, u"Anna"_s));
}

// What was copied while the user had turned syncing off, with everyone or
// with one device, stays where it was copied.
TEST_F(SyncCatchUpTest, NothingCopiedWhileSyncingWasTurnedOffComesLater) {
    ASSERT_TRUE(connect());
    const SyncDevice bert = a.service->peers().first();
    a.service->setEnabled(false, bert);
    ASSERT_TRUE(bertIsGone());
    a.service->broadcast(clipAt(u"while Bert was paused"_s, a.clock.now().unix() + 1));
    a.clock.advance(10);
    a.service->setEnabled(true, bert);
    ASSERT_TRUE(connect());
    // Bert asks for what he missed as he connects; Anna's next copy comes
    // after her answer.
    ASSERT_TRUE(a.sendMarker(b));
    EXPECT_TRUE(b.received.isEmpty());
    EXPECT_TRUE(b.recorded.isEmpty());

    b.prefs.setSyncEnabled(false);
    ASSERT_TRUE(bertIsGone());
    a.service->broadcast(clipAt(u"while Bert had sync off"_s, a.clock.now().unix() + 1));
    b.clock.advance(20);
    b.start();
    ASSERT_TRUE(connect());
    ASSERT_TRUE(a.sendMarker(b));
    EXPECT_TRUE(b.received.isEmpty());
    EXPECT_TRUE(b.recorded.isEmpty());
}

// Anna's copies survive her own restart too: she keeps them on disk.
TEST_F(SyncCatchUpTest, CopiesKeptForADeviceThatWasAwaySurviveARestartOfTheirOwn) {
    ASSERT_TRUE(connect());
    outage();
    ASSERT_TRUE(bertIsGone());
    a.service->broadcast(clipAt(u"kept on disk"_s, a.clock.now().unix() + 1));
    a.service.reset();
    boot(a);
    ASSERT_TRUE(connect());
    ASSERT_TRUE(QTest::qWaitFor([&] { return b.received.size() == 1; }, kWaitMs));
    EXPECT_EQ(b.received.first().first, u"kept on disk"_s);
}

// What each kind of hello is answered with, and that only a device naming
// the capability is asked to catch up.
TEST_F(SyncCatchUpTest, OnlyADeviceThatNamesTheCapabilityHearsProtocolFour) {
    const QStringList ours = SyncProtocol::capabilities();
    const struct {
        const char* name;
        std::optional<qint64> protocol;
        std::optional<QStringList> capabilities;
        bool speaksFour;
    } cases[] = {
        {"protocol 3", 3, std::nullopt, false},
        {"a higher protocol naming nothing", 9, std::nullopt, false},
        {"protocol 4 naming nothing we know", 4, QStringList{u"teleport"_s}, false},
        {"protocol 4 with catch-up", 4, ours, true},
    };
    for (const auto& c : cases) {
        RawPeer peer(a, b.sessionKeyWith(a));
        SyncMessage hello =
            SyncMessage::hello(b.identity.deviceId(), b.identity.deviceName(), c.capabilities);
        hello.proto = c.protocol;
        peer.send(hello);
        ASSERT_TRUE(peer.waitForType(SyncMessageType::hello)) << c.name;
        if (c.speaksFour) {
            // Anna holds Bert's live clips back until he has answered.
            ASSERT_TRUE(peer.waitForType(SyncMessageType::catchUp));
            peer.sendJson(R"({"type":"clips","clips":[]})");
        }
        ASSERT_TRUE(peer.sendMarker()) << c.name;
        const SyncMessage answer = peer.messages().first();
        EXPECT_EQ(answer.proto, c.capabilities ? 4 : 3) << c.name;
        EXPECT_EQ(answer.capabilities.has_value(), c.capabilities.has_value()) << c.name;
        EXPECT_EQ(peer.types().contains(SyncMessageType::catchUp), c.speaksFour) << c.name;
        // Kept for the relay room, which carries no hello.
        EXPECT_EQ(SyncPeerStore(a.settings, a.clock).peer(b.identity.deviceId())->protocol,
                  c.protocol)
            << c.name;
    }
}
