#include "RelayClients.h"
#include "RelayProcess.h"
#include "support/Sanitizers.h"

#include <QHostAddress>
#include <algorithm>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

// Clients that try to make the relay hold memory for them without limit,
// while an honest pair keeps exchanging. The relay's resident memory is read
// from /proc as the attack goes on.

namespace {

// The relay under test is built as this test is. Under a sanitizer its
// memory holds the runtime's shadow, and under AddressSanitizer a quarantine
// too: the resident sizes read here would say nothing about the relay's
// bounds.
constexpr bool kAllocatorReplaced = underAddressSanitizer || underThreadSanitizer;
constexpr const char* kAllocatorReplacedWhy =
    "a sanitizer's runtime holds shadow memory of the relay this measures";

constexpr int kPing = 0x9, kBinary = 0x2, kContinue = 0x0;
constexpr qint64 kMiB = 1'048'576;

// Writes everything and waits until the relay has taken it (or dropped us).
bool deliver(QTcpSocket& socket, const QByteArray& bytes) {
    socket.write(bytes);
    return QTest::qWaitFor(
        [&] {
            return socket.bytesToWrite() == 0 || socket.state() != QAbstractSocket::ConnectedState;
        },
        kWaitMs);
}

} // namespace

TEST(RelayMemory, PingsFromAMemberThatNeverReadsAreBoundedByItsBacklog) {
    if (kAllocatorReplaced)
        GTEST_SKIP() << kAllocatorReplacedWhy;
    const TestCertificate tls;
    ASSERT_TRUE(tls.ok) << tls.error.constData();
    // Under TLS the pongs wait encrypted, in a buffer of their own.
    for (const bool secure : {false, true}) {
        SCOPED_TRACE(secure ? "wss" : "ws");
        RelayProcess relay(secure ? tls.relayOptions() : QStringList());
        ASSERT_TRUE(relay.start());
        auto pair = openClients(relay, roomName("honest"), 2, secure ? u"wss"_s : u"ws"_s);
        // Alone in its room: no message for it ever comes through forwarding.
        auto attacker =
            stalledMember(relay, roomName("pings"), secure, QHostAddress(u"127.0.0.2"_s));
        const qint64 before = relay.residentKib();

        // 1 MiB of the largest pings at a time; each comes back as a pong the
        // attacker never reads. Up to 64 MiB of them.
        QByteArray pings;
        while (pings.size() < kMiB)
            pings += clientFrame(kPing, QByteArray(125, 'p'));
        qint64 peak = 0;
        for (int round = 0; round < 64 && attacker->state() == QAbstractSocket::ConnectedState;
             ++round) {
            (void)deliver(*attacker, pings);
            peak = std::max(peak, relay.residentKib() - before);
            if (round % 8 == 0)
                expectRoomWorks(*pair[0], *pair[1], "round " + QByteArray::number(round));
        }
        ASSERT_TRUE(relay.waitForLog(u"not reading"_s));
        EXPECT_EQ(relay.log().filter(u"not reading"_s).filter(u"127.0.0.2:"_s).size(), 1);
        // The backlog limit is 2 MiB; the rest is allocator slack.
        EXPECT_LT(peak, 16 * 1024) << "KiB grown while answering pings";
        expectRoomWorks(*pair[0], *pair[1], "after");
    }
}

TEST(RelayMemory, HalfSentMessagesCountAgainstTheQueueBudget) {
    if (kAllocatorReplaced)
        GTEST_SKIP() << kAllocatorReplacedWhy;
    const qint64 budget = 16 * kMiB;
    RelayProcess relay(
        {u"--queue-budget"_s, QString::number(budget), u"--per-address"_s, u"100"_s});
    ASSERT_TRUE(relay.start());
    const QString room = roomName("stalled");
    auto pair = openClients(relay, room, 2);
    const qint64 before = relay.residentKib();

    // Each stalls most of the way through its message: half of them in one
    // frame, half in fragments (which Qt gathers in a buffer of its own).
    const QByteArray single = clientFrameHeader(kBinary, kMiB) + QByteArray(kMiB - 4096, 's');
    const QByteArray fragmented = clientFrame(kBinary, QByteArray(kMiB / 2, 'f'), false) +
                                  clientFrameHeader(kContinue, kMiB / 2) +
                                  QByteArray(kMiB / 2 - 4096, 'f');
    std::vector<std::unique_ptr<QTcpSocket>> stalled;
    qint64 peak = 0;
    const int count = 60;
    for (int i = 0; i < count; ++i) {
        auto socket = rawConnect(relay.port(), QHostAddress(u"127.0.0.3"_s));
        const QByteArray own = roomName("stalled" + QByteArray::number(i)).toLatin1();
        ASSERT_EQ(upgradeStatus(*socket, upgradeRequest("/?room=" + own, relay.port())), 101);
        (void)deliver(*socket, i % 2 ? fragmented : single);
        stalled.push_back(std::move(socket));
        peak = std::max(peak, relay.residentKib() - before);
        if (i % 10 == 9)
            expectRoomWorks(*pair[0], *pair[1], "after " + QByteArray::number(i + 1));
    }
    // Without counting them: 60 messages of 1 MiB, half of them gathered
    // twice over, some 90 MiB.
    const int drops = relay.logCount(u"largest message in flight"_s);
    EXPECT_GE(drops, count - budget / kMiB) << "too few dropped";
    EXPECT_LT(peak, 2 * budget / 1024) << "KiB grown holding half-sent messages";
    expectRoomWorks(*pair[0], *pair[1], "after");

    // Once they are gone, so is the memory they took: the allocator would
    // otherwise keep it for later.
    stalled.clear();
    qint64 grown = 0;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            grown = relay.residentKib() - before;
            return grown < 8 * 1024;
        },
        kWaitMs))
        << grown << " KiB still held after the senders left";
}
