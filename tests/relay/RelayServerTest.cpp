#include "RelayProcess.h"

#include <QHostAddress>
#include <QSslError>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QWebSocket>
#include <gtest/gtest.h>
#include <memory>
#include <sys/resource.h>
#include <vector>

using namespace Qt::StringLiterals;

// The relay process under hostile and well-behaved clients, all on loopback.
// Hostile clients connect from other 127/8 addresses so the per-address bound
// does not hit the well-behaved ones.

namespace {

constexpr int kWaitMs = 5000;

// A self-signed certificate for 127.0.0.1 and its key, in a folder that
// lasts as long as the object.
struct TestCertificate {
    TestCertificate() {
        QProcess openssl;
        openssl.start(u"openssl"_s,
                      {u"req"_s, u"-x509"_s, u"-newkey"_s, u"ec"_s, u"-pkeyopt"_s,
                       u"ec_paramgen_curve:prime256v1"_s, u"-nodes"_s, u"-days"_s, u"1"_s,
                       u"-subj"_s, u"/CN=127.0.0.1"_s, u"-keyout"_s, key, u"-out"_s, cert});
        ok = openssl.waitForFinished(30000) && openssl.exitCode() == 0;
        error = openssl.readAllStandardError();
    }
    QStringList relayOptions() const { return {u"--cert"_s, cert, u"--key"_s, key}; }

    QTemporaryDir dir;
    QString cert = dir.filePath(u"cert.pem"_s);
    QString key = dir.filePath(u"key.pem"_s);
    bool ok = false;
    QByteArray error;
};

// A WebSocket client that records what reaches it.
struct Client {
    Client() {
        QObject::connect(&ws, &QWebSocket::binaryMessageReceived,
                         [this](const QByteArray& message) { binary.append(message); });
        QObject::connect(&ws, &QWebSocket::textMessageReceived,
                         [this](const QString& message) { text.append(message); });
        QObject::connect(&ws, &QWebSocket::disconnected, [this] { closed = true; });
        // The test relays serve a self-signed certificate.
        QObject::connect(&ws, &QWebSocket::sslErrors,
                         [this](const QList<QSslError>&) { ws.ignoreSslErrors(); });
    }
    bool open(const QUrl& url) {
        closed = false;
        ws.open(url);
        (void)QTest::qWaitFor(
            [&] { return ws.state() == QAbstractSocket::ConnectedState || closed; }, kWaitMs);
        return ws.state() == QAbstractSocket::ConnectedState;
    }
    bool waitForBinary(qsizetype count) {
        return QTest::qWaitFor([&] { return binary.size() >= count; }, kWaitMs);
    }

    QWebSocket ws;
    QList<QByteArray> binary;
    QStringList text;
    bool closed = false;
};

std::vector<std::unique_ptr<Client>> openClients(RelayProcess& relay, const QString& room,
                                                 int count, const QString& scheme = u"ws"_s) {
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < count; ++i) {
        clients.push_back(std::make_unique<Client>());
        if (!clients.back()->open(relay.url(room, QString::number(i), scheme)))
            ADD_FAILURE() << "client " << i << " could not join";
    }
    return clients;
}

// Two members of one room still pass a message both ways.
void expectRoomWorks(Client& a, Client& b, const QByteArray& tag) {
    const qsizetype seenA = a.binary.size();
    const qsizetype seenB = b.binary.size();
    a.ws.sendBinaryMessage(tag + "-ab");
    b.ws.sendBinaryMessage(tag + "-ba");
    ASSERT_TRUE(b.waitForBinary(seenB + 1)) << tag.constData();
    ASSERT_TRUE(a.waitForBinary(seenA + 1)) << tag.constData();
    EXPECT_EQ(b.binary.last(), tag + "-ab");
    EXPECT_EQ(a.binary.last(), tag + "-ba");
}

QByteArray upgradeRequest(const QByteArray& target, quint16 port) {
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) +
           "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
           "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
}

// A plain TCP client from a chosen loopback address. It reads only what it is
// told to, so it can play a peer that stops reading.
std::unique_ptr<QTcpSocket> rawConnect(quint16 port, const QHostAddress& source) {
    auto socket = std::make_unique<QTcpSocket>();
    socket->bind(source);
    socket->connectToHost(QHostAddress::LocalHost, port);
    socket->waitForConnected(kWaitMs);
    return socket;
}

// The same over TLS, once the handshake is done.
std::unique_ptr<QTcpSocket> rawConnectTls(quint16 port, const QHostAddress& source) {
    auto socket = std::make_unique<QSslSocket>();
    socket->setPeerVerifyMode(QSslSocket::VerifyNone);
    socket->bind(source);
    socket->connectToHostEncrypted(u"127.0.0.1"_s, port);
    socket->waitForEncrypted(kWaitMs);
    return socket;
}

// The status code the relay answers an upgrade request with; 0 when it closes
// without an answer.
int upgradeStatus(QTcpSocket& socket, const QByteArray& request) {
    socket.write(request);
    (void)QTest::qWaitFor(
        [&] {
            return socket.peek(4096).contains("\r\n\r\n") ||
                   socket.state() == QAbstractSocket::UnconnectedState;
        },
        kWaitMs);
    const QByteArray head = socket.peek(4096);
    if (!head.startsWith("HTTP/1.1 "))
        return 0;
    const qsizetype end = head.indexOf("\r\n\r\n");
    if (end >= 0)
        socket.read(end + 4);
    return head.mid(9, 3).toInt();
}

// A client from `source` that joins `room`, then stops reading: what the relay
// sends it piles up in the relay.
std::unique_ptr<QTcpSocket> stalledMember(RelayProcess& relay, const QString& room, bool tls,
                                          const QHostAddress& source) {
    auto socket = tls ? rawConnectTls(relay.port(), source) : rawConnect(relay.port(), source);
    socket->setReadBufferSize(4096);
    socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
    EXPECT_EQ(upgradeStatus(*socket, upgradeRequest("/?room=" + room.toLatin1(), relay.port())),
              101);
    return socket;
}

std::vector<std::unique_ptr<QTcpSocket>> flood(quint16 port, const QHostAddress& source,
                                               int count) {
    std::vector<std::unique_ptr<QTcpSocket>> sockets;
    for (int i = 0; i < count; ++i)
        sockets.push_back(rawConnect(port, source));
    return sockets;
}

int stillOpen(const std::vector<std::unique_ptr<QTcpSocket>>& sockets) {
    int open = 0;
    for (const auto& socket : sockets)
        if (socket->state() == QAbstractSocket::ConnectedState)
            ++open;
    return open;
}

} // namespace

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

TEST(RelayServer, RefusesAMissingOrMalformedRoomAtTheUpgrade) {
    RelayProcess relay;
    ASSERT_TRUE(relay.start());
    const QByteArray room = roomName("r").toLatin1();
    const struct {
        const char* name;
        QByteArray target;
        int status;
    } cases[] = {
        {"no query", "/", 400},
        {"no room", "/?device=D", 400},
        {"empty room", "/?room=&device=D", 400},
        {"short room", "/?room=" + room.left(63), 400},
        {"long room", "/?room=" + room + "0", 400},
        {"upper-case hex", "/?room=" + room.toUpper(), 400},
        {"not hex", "/?room=" + room.left(63) + "g", 400},
        {"two rooms", "/?room=" + room + "&room=" + room, 400},
        {"valid", "/?room=" + room + "&device=D", 101},
        {"valid under a path", "/relay/v1?device=D&room=" + room, 101},
    };
    for (const auto& c : cases) {
        auto socket = rawConnect(relay.port(), QHostAddress(u"127.0.0.2"_s));
        EXPECT_EQ(upgradeStatus(*socket, upgradeRequest(c.target, relay.port())), c.status)
            << c.name;
    }
    auto socket = rawConnect(relay.port(), QHostAddress(u"127.0.0.2"_s));
    EXPECT_EQ(upgradeStatus(*socket, "POST /?room=" + room + " HTTP/1.1\r\n\r\n"), 400);
}

TEST(RelayServer, OversizeMessageClosesItsSenderAndIsNotForwarded) {
    RelayProcess relay;
    ASSERT_TRUE(relay.start());
    auto room = openClients(relay, roomName("big"), 2);

    const QByteArray largest(1'048'576, 'x');
    room[0]->ws.sendBinaryMessage(largest);
    ASSERT_TRUE(room[1]->waitForBinary(1));
    EXPECT_EQ(room[1]->binary.first().size(), largest.size());

    room[0]->ws.sendBinaryMessage(largest + 'y');
    ASSERT_TRUE(QTest::qWaitFor([&] { return room[0]->closed; }, kWaitMs));
    EXPECT_EQ(room[0]->ws.closeCode(), QWebSocketProtocol::CloseCodeTooMuchData);

    auto late = std::make_unique<Client>();
    ASSERT_TRUE(late->open(relay.url(roomName("big"))));
    expectRoomWorks(*room[1], *late, "after");
    EXPECT_EQ(room[1]->binary.size(), 2) << "the oversize message got through";
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
