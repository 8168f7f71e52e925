#include "RelayClients.h"
#include "RelayProcess.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTest>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <memory>
#include <sys/resource.h>
#include <sys/socket.h>
#include <vector>

using namespace Qt::StringLiterals;

// The relay process under hostile and well-behaved clients, all on loopback.
// Hostile clients connect from other 127/8 addresses so the per-address bound
// does not hit the well-behaved ones.

TEST(RelayServer, ForwardsBinaryToTheOtherMembersOfTheRoomOnly) {
    RelayProcess relay;
    ASSERT_TRUE(relay.start());
    auto roomA = openClients(relay, roomName("a"), 3);
    auto roomB = openClients(relay, roomName("b"), 1);

    roomA[0]->ws.sendTextMessage(u"not part of the protocol"_s);
    roomA[0]->ws.sendBinaryMessage("first");
    roomA[0]->ws.sendBinaryMessage("second");
    ASSERT_TRUE(roomA[1]->waitForBinary(2));
    ASSERT_TRUE(roomA[2]->waitForBinary(2));
    // A round trip through room B after the sends: anything misrouted to it
    // would have arrived by now.
    auto probe = std::make_unique<Client>();
    ASSERT_TRUE(probe->open(relay.url(roomName("b"))));
    expectRoomWorks(*roomB[0], *probe, "b");

    for (int i : {1, 2}) {
        EXPECT_EQ(roomA[i]->binary, (QList<QByteArray>{"first", "second"}));
        EXPECT_TRUE(roomA[i]->text.isEmpty());
    }
    EXPECT_TRUE(roomA[0]->binary.isEmpty()) << "echoed back to the sender";
    EXPECT_EQ(roomB[0]->binary, QList<QByteArray>{"b-ba"});
}

TEST(RelayServer, AnswersEveryRefusedUpgradeWithAnHttpStatus) {
    // A time-out far beyond the test: every answer below is the relay's own.
    RelayProcess relay({u"--handshake-timeout"_s, u"600000"_s});
    ASSERT_TRUE(relay.start());
    const QByteArray room = roomName("r").toLatin1();
    const QByteArray valid = upgradeRequest("/?room=" + room, relay.port());
    const auto without = [&](const QByteArray& line) {
        QByteArray request = valid;
        return request.replace(line + "\r\n", "");
    };
    const auto lfOnly = [](QByteArray request) { return request.replace("\r\n", "\n"); };
    const struct {
        const char* name;
        QByteArray request;
        int status;
    } cases[] = {
        {"no query", upgradeRequest("/", relay.port()), 400},
        {"no room", upgradeRequest("/?device=D", relay.port()), 400},
        {"empty room", upgradeRequest("/?room=&device=D", relay.port()), 400},
        {"short room", upgradeRequest("/?room=" + room.left(63), relay.port()), 400},
        {"long room", upgradeRequest("/?room=" + room + "0", relay.port()), 400},
        {"upper-case hex", upgradeRequest("/?room=" + room.toUpper(), relay.port()), 400},
        {"not hex", upgradeRequest("/?room=" + room.left(63) + "g", relay.port()), 400},
        {"two rooms", upgradeRequest("/?room=" + room + "&room=" + room, relay.port()), 400},
        {"POST", "POST /?room=" + room + " HTTP/1.1\r\n\r\n", 400},
        {"HTTP/1.0", QByteArray(valid).replace("HTTP/1.1", "HTTP/1.0"), 505},
        {"plain GET", "GET /?room=" + room + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", 426},
        {"no Upgrade header", without("Upgrade: websocket"), 426},
        {"old protocol version", QByteArray(valid).replace("Version: 13", "Version: 8"), 426},
        {"no key", without("Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ=="), 400},
        {"key not 16 bytes", QByteArray(valid).replace("dGhlIHNhbXBsZSBub25jZQ==", "eHl6"), 400},
        {"no Host", without("Host: 127.0.0.1:" + QByteArray::number(relay.port())), 400},
        {"LF-only lines", lfOnly(valid), 400},
        {"LF-only request line, nothing more", "GET /?room=" + room + " HTTP/1.1\n", 400},
        {"a frame before the answer", valid + clientFrame(0x2, "early"), 400},
        {"valid", upgradeRequest("/?room=" + room + "&device=D", relay.port()), 101},
        {"valid under a path", upgradeRequest("/relay/v1?device=D&room=" + room, relay.port()),
         101},
    };
    for (const auto& c : cases) {
        auto socket = rawConnect(relay.port(), QHostAddress(u"127.0.0.2"_s));
        EXPECT_EQ(upgradeStatus(*socket, c.request), c.status) << c.name;
    }
}

TEST(RelayServer, OversizeMessageClosesItsSenderWith1009AndIsNotForwarded) {
    RelayProcess relay;
    ASSERT_TRUE(relay.start());
    const QByteArray largest(1'048'576, 'x');
    // Qt sends in frames of 512 KiB unless told otherwise.
    for (const qint64 frameSize : {qint64(512 * 1024), qint64(4 * 1'048'576)}) {
        SCOPED_TRACE(frameSize > largest.size() ? "one frame" : "fragmented");
        const QString name = roomName("big" + QByteArray::number(frameSize));
        auto room = openClients(relay, name, 2);
        room[0]->ws.setOutgoingFrameSize(static_cast<quint64>(frameSize));

        room[0]->ws.sendBinaryMessage(largest);
        ASSERT_TRUE(room[1]->waitForBinary(1));
        EXPECT_EQ(room[1]->binary.first().size(), largest.size());

        // Without a lingering close the rest of the message met a reset, and
        // the client saw the connection fail instead of the close frame.
        room[0]->ws.sendBinaryMessage(largest + 'y');
        ASSERT_TRUE(QTest::qWaitFor([&] { return room[0]->closed; }, kWaitMs));
        EXPECT_EQ(room[0]->ws.closeCode(), QWebSocketProtocol::CloseCodeTooMuchData);

        auto late = std::make_unique<Client>();
        ASSERT_TRUE(late->open(relay.url(name)));
        expectRoomWorks(*room[1], *late, "after");
        EXPECT_EQ(room[1]->binary.size(), 2) << "the oversize message got through";
    }
}

TEST(RelayServer, ClosesAClientThatBreaksTheFramingWith1002) {
    RelayProcess relay;
    ASSERT_TRUE(relay.start());
    const QString name = roomName("frames");
    auto pair = openClients(relay, name, 2);
    const struct {
        const char* name;
        QByteArray frames;
    } cases[] = {
        {"unmasked", clientFrame(0x2, "no mask", true, false)},
        {"unmasked after a good one",
         clientFrame(0x2, "fine") + clientFrame(0x2, "no mask", true, false)},
        {"continuation of nothing", clientFrame(0x0, "orphan")},
    };
    for (const auto& c : cases) {
        auto socket = rawConnect(relay.port(), QHostAddress(u"127.0.0.2"_s));
        ASSERT_EQ(upgradeStatus(*socket, upgradeRequest("/?room=" + name.toLatin1(), relay.port())),
                  101);
        socket->write(c.frames);
        EXPECT_EQ(awaitCloseCode(*socket), QWebSocketProtocol::CloseCodeProtocolError) << c.name;
    }
    expectRoomWorks(*pair[0], *pair[1], "after");
    EXPECT_EQ(pair[0]->binary.count("no mask"), 0) << "an unmasked frame was forwarded";
}

TEST(RelayServer, SeventeenthMemberOfARoomIsRefusedUntilOneLeaves) {
    RelayProcess relay;
    ASSERT_TRUE(relay.start());
    auto full = openClients(relay, roomName("full"), 16);

    Client extra;
    EXPECT_FALSE(extra.open(relay.url(roomName("full"))));
    EXPECT_TRUE(relay.logContains(u"is full"_s));
    expectRoomWorks(*full[0], *full[15], "full");

    auto other = openClients(relay, roomName("other"), 2);
    expectRoomWorks(*other[0], *other[1], "other");

    full[3]->ws.close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return extra.open(relay.url(roomName("full"))); }, kWaitMs));
    expectRoomWorks(*full[0], extra, "joined");
}

TEST(RelayServer, FloodsOfConnectionsAreCappedAndRecovered) {
    const QHostAddress floodSource(u"127.0.0.2"_s);
    const struct {
        const char* name;
        QStringList options;
        int floodSize;
        int expectOpen;
    } cases[] = {
        {"per address", {u"--per-address"_s, u"4"_s, u"--max-connections"_s, u"100"_s}, 10, 4},
        // Two connections belong to the well-behaved pair.
        {"in total", {u"--per-address"_s, u"100"_s, u"--max-connections"_s, u"6"_s}, 10, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RelayProcess relay(c.options);
        ASSERT_TRUE(relay.start());
        auto pair = openClients(relay, roomName(c.name), 2);

        auto sockets = flood(relay.port(), floodSource, c.floodSize);
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return relay.logCount(u"refused"_s) >= c.floodSize - c.expectOpen; }, kWaitMs));
        (void)QTest::qWaitFor([&] { return stillOpen(sockets) == c.expectOpen; }, kWaitMs);
        EXPECT_EQ(stillOpen(sockets), c.expectOpen);
        expectRoomWorks(*pair[0], *pair[1], "during");

        sockets.clear();
        auto fresh = std::make_unique<QTcpSocket>();
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                fresh = rawConnect(relay.port(), floodSource);
                return upgradeStatus(*fresh, upgradeRequest("/?room=" + roomName(c.name).toLatin1(),
                                                            relay.port())) == 101;
            },
            kWaitMs));
    }
}

TEST(RelayServer, SilentConnectionsAreClosedWhilePongingOnesStay) {
    RelayProcess relay({u"--idle-timeout"_s, u"300"_s, u"--handshake-timeout"_s, u"300"_s});
    ASSERT_TRUE(relay.start());
    auto pair = openClients(relay, roomName("alive"), 2);

    // Upgraded, but never answers a ping.
    auto mute = rawConnect(relay.port(), QHostAddress(u"127.0.0.2"_s));
    ASSERT_EQ(upgradeStatus(*mute,
                            upgradeRequest("/?room=" + roomName("alive").toLatin1(), relay.port())),
              101);
    // Connected, but never asks for the upgrade.
    auto dumb = rawConnect(relay.port(), QHostAddress(u"127.0.0.2"_s));

    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return mute->state() == QAbstractSocket::UnconnectedState &&
                   dumb->state() == QAbstractSocket::UnconnectedState;
        },
        kWaitMs));
    // The pair joined before the mute client, so only its pongs kept it alive.
    ASSERT_EQ(pair[0]->ws.state(), QAbstractSocket::ConnectedState);
    ASSERT_EQ(pair[1]->ws.state(), QAbstractSocket::ConnectedState);
    expectRoomWorks(*pair[0], *pair[1], "alive");
}

TEST(RelayServer, MemberThatStopsReadingIsDroppedAndTheRoomGoesOn) {
    const TestCertificate tls;
    ASSERT_TRUE(tls.ok) << tls.error.constData();
    // Under TLS most of the backlog waits already encrypted, where a count of
    // the plain bytes alone does not see it.
    for (const bool secure : {false, true}) {
        SCOPED_TRACE(secure ? "wss" : "ws");
        RelayProcess relay((secure ? tls.relayOptions() : QStringList())
                           << u"--backlog"_s << u"2097152"_s);
        ASSERT_TRUE(relay.start());
        const QString room = roomName("slow");
        auto pair = openClients(relay, room, 2, secure ? u"wss"_s : u"ws"_s);
        auto stuck = stalledMember(relay, room, secure, QHostAddress(u"127.0.0.2"_s));

        const int count = 40;
        for (int i = 0; i < count; ++i) {
            pair[0]->ws.sendBinaryMessage(QByteArray(1'048'576, char('a' + i % 26)));
            (void)QTest::qWaitFor([&] { return pair[1]->binary.size() > i; }, kWaitMs);
        }
        ASSERT_TRUE(pair[1]->waitForBinary(count));
        ASSERT_TRUE(relay.waitForLog(u"not reading"_s));
        const QStringList drops = relay.log().filter(u"not reading"_s);
        EXPECT_EQ(drops.filter(u"127.0.0.2:"_s).size(), drops.size())
            << drops.join(u'\n').toStdString();
        expectRoomWorks(*pair[0], *pair[1], "after");
    }
}

TEST(RelayServer, ServesWssWithTheGivenCertificate) {
    const TestCertificate tls;
    ASSERT_TRUE(tls.ok) << tls.error.constData();
    RelayProcess relay(tls.relayOptions());
    ASSERT_TRUE(relay.start());
    auto room = openClients(relay, roomName("tls"), 2, u"wss"_s);
    expectRoomWorks(*room[0], *room[1], "tls");

    // The room check still applies behind TLS.
    Client bad;
    EXPECT_FALSE(bad.open(relay.url(u"short"_s, u"X"_s, u"wss"_s)));
    EXPECT_TRUE(relay.logContains(u"missing or malformed room"_s));
}

TEST(RelayServer, SilentConnectionsDoNotHoldUpWssJoins) {
    const TestCertificate tls;
    ASSERT_TRUE(tls.ok) << tls.error.constData();
    // A handshake time-out far beyond the test: only the limits can help.
    RelayProcess relay(tls.relayOptions() << u"--handshake-timeout"_s << u"600000"_s);
    ASSERT_TRUE(relay.start());

    // Connected, never a TLS byte; more than the per-address limit of 32.
    auto silent = flood(relay.port(), QHostAddress(u"127.0.0.2"_s), 40);
    auto room = openClients(relay, roomName("wss-flood"), 2, u"wss"_s);
    ASSERT_EQ(room[1]->ws.state(), QAbstractSocket::ConnectedState);
    expectRoomWorks(*room[0], *room[1], "during");
    // The limit applied at TCP accept, without waiting for a handshake.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return relay.logCount(u"too many connections from 127.0.0.2"_s) == 8; }, kWaitMs));
    EXPECT_EQ(stillOpen(silent), 32);
}

TEST(RelayServer, KeepsAcceptingAfterRunningOutOfDescriptors) {
    RelayProcess relay({u"--max-connections"_s, u"1000"_s, u"--per-address"_s, u"1000"_s});
    relay.setDescriptorLimit(128);
    ASSERT_TRUE(relay.start());
    ASSERT_TRUE(relay.logContains(u"max connections lowered to 64"_s));
    const QString room = roomName("descriptors");
    auto pair = openClients(relay, room, 2);

    // More connections than descriptors: the lowered limit turns the excess
    // away, so the relay never runs dry.
    auto sockets = flood(relay.port(), QHostAddress(u"127.0.0.2"_s), 140);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return relay.logCount(u"refused: server full"_s) == 140 + 2 - 64; }, kWaitMs));
    expectRoomWorks(*pair[0], *pair[1], "flooded");
    sockets.clear();
    Client fresh;
    ASSERT_TRUE(QTest::qWaitFor([&] { return fresh.open(relay.url(room)); }, kWaitMs));
    expectRoomWorks(*pair[0], fresh, "after");

    // Should it run dry all the same (here: a limit lowered under its feet),
    // accept() fails; the relay pauses rather than spinning on the listening
    // socket, and takes the waiting client once descriptors are back.
    const rlimit dry{4, 128};
    ASSERT_EQ(prlimit(static_cast<pid_t>(relay.pid()), RLIMIT_NOFILE, &dry, nullptr), 0);
    Client late;
    late.ws.open(relay.url(room));
    ASSERT_TRUE(relay.waitForLog(u"cannot accept connections"_s));
    const rlimit enough{128, 128};
    ASSERT_EQ(prlimit(static_cast<pid_t>(relay.pid()), RLIMIT_NOFILE, &enough, nullptr), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return late.ws.state() == QAbstractSocket::ConnectedState; },
                                kWaitMs));
    expectRoomWorks(*pair[0], late, "resumed");
}

TEST(RelayServer, QueuedBytesOverTheBudgetDropTheLargestBacklogs) {
    const TestCertificate tls;
    ASSERT_TRUE(tls.ok) << tls.error.constData();
    const QHostAddress stalledSource(u"127.0.0.2"_s);
    for (const bool secure : {false, true}) {
        SCOPED_TRACE(secure ? "wss" : "ws");
        // Each member may queue far more than the budget: only the budget drops.
        RelayProcess relay((secure ? tls.relayOptions() : QStringList())
                           << u"--backlog"_s << u"268435456"_s << u"--queue-budget"_s
                           << u"4194304"_s);
        ASSERT_TRUE(relay.start());
        const QString scheme = secure ? u"wss"_s : u"ws"_s;
        const QString busy = roomName("busy");
        auto readers = openClients(relay, busy, 2, scheme);
        auto calm = openClients(relay, roomName("calm"), 2, scheme);
        std::vector<std::unique_ptr<QTcpSocket>> stalled;
        for (int i = 0; i < 3; ++i)
            stalled.push_back(stalledMember(relay, busy, secure, stalledSource));

        const QByteArray chunk(64 * 1024, 'm');
        const auto drops = [&] { return relay.logCount(u"queue budget"_s); };
        int sent = 0;
        // 64 MiB at most; the kernel buffers take a few MiB per stalled reader first.
        while (drops() < 3 && sent < 1024) {
            readers[0]->ws.sendBinaryMessage(chunk);
            ++sent;
            ASSERT_TRUE(readers[1]->waitForBinary(sent));
        }
        ASSERT_EQ(drops(), 3) << "after " << sent << " messages";
        // Only the stalled members: never the sender or the reader that keeps up.
        const QStringList budgetDrops = relay.log().filter(u"queue budget"_s);
        EXPECT_EQ(budgetDrops.filter(u"127.0.0.2:"_s).size(), 3)
            << budgetDrops.join(u'\n').toStdString();
        EXPECT_FALSE(relay.logContains(u"not reading"_s));
        // The stalled clients do not read, so only the relay can tell they are gone.
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return relay.log().filter(u"127.0.0.2:"_s).filter(u" left room"_s).size() == 3; },
            kWaitMs));
        expectRoomWorks(*readers[0], *readers[1], "busy");
        expectRoomWorks(*calm[0], *calm[1], "calm");
    }
}
