#include "RelayProcess.h"
#include "core/sync/PairingLink.h"
#include "support/SyncLogCapture.h"
#include "support/SyncTestDevice.h"

#include <QTest>
#include <gtest/gtest.h>

// Pairing through a real tindrel-relay process when the joiner cannot reach
// the host directly: the pasted link names only the relay.

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {
constexpr int kWaitMs = 5000;

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
