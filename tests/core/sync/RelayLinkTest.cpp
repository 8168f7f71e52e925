#include "core/sync/RelayLink.h"
#include "support/SyncLogCapture.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QWebSocket>
#include <QWebSocketServer>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

using namespace Qt::StringLiterals;

// RelayLink against relays played in process on 127.0.0.1: Qt's own
// WebSocket server, or a bare socket that completes the upgrade and then
// ignores everything (a relay that stopped answering pings).

namespace {

constexpr int kWaitMs = 5000;
const QByteArray sessionKey(32, 's');
const QString room = QString(64, u'a');

quint16 freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

QUrl relayUrl(quint16 port) {
    return RelayLink::linkUrl(u"ws://127.0.0.1:%1"_s.arg(port), room, u"ME"_s).value();
}

// A relay that keeps every connection and records what reaches it.
struct FakeRelay {
    FakeRelay() {
        QObject::connect(&server, &QWebSocketServer::newConnection, [this] {
            while (QWebSocket* socket = server.nextPendingConnection()) {
                sockets.push_back(socket);
                QObject::connect(socket, &QWebSocket::binaryMessageReceived,
                                 [this](const QByteArray& m) { received.append(m); });
                QObject::connect(socket, &QWebSocket::disconnected, [this] { ++disconnects; });
            }
        });
    }
    // The server hands out sockets without a parent: they are ours to free.
    ~FakeRelay() { qDeleteAll(sockets); }
    bool listen(quint16 port) { return server.listen(QHostAddress::LocalHost, port); }

    QWebSocketServer server{u"fake"_s, QWebSocketServer::NonSecureMode};
    std::vector<QWebSocket*> sockets;
    QList<QByteArray> received;
    int disconnects = 0;
};

struct Observed {
    void watch(RelayLink& link) {
        QObject::connect(&link, &RelayLink::connectedChanged, &link,
                         [this](bool connected) { states.append(connected); });
        QObject::connect(&link, &RelayLink::messageReceived, &link,
                         [this](const SyncMessage& m) { messages.append(m); });
    }
    QList<bool> states;
    QList<SyncMessage> messages;
};

// The delays of the "reconnecting in Ns" lines, in order.
QList<int> backoffs(const QStringList& messages) {
    static const QRegularExpression line(u"^relay link to Peer reconnecting in (\\d+)s"_s);
    QList<int> out;
    for (const QString& message : messages)
        if (const auto match = line.match(message); match.hasMatch())
            out.append(match.captured(1).toInt());
    return out;
}

std::unique_ptr<RelayLink> makeLink(quint16 port, RelayLink::Timing timing) {
    auto link =
        std::make_unique<RelayLink>(relayUrl(port), u"PEER"_s, u"Peer"_s, sessionKey, u"ME"_s);
    link->setTiming(timing);
    return link;
}

} // namespace

TEST(RelayLinkUrl, FollowsTheConfiguredAddressWithRoomAndDevice) {
    const QString expectedQuery = u"?room="_s + room + u"&device=ME"_s;
    const struct {
        const char* name;
        QString configured;
        QString expected; // empty: not a usable relay address
    } cases[] = {
        {"plain", u"wss://relay.example.com"_s, u"wss://relay.example.com/"_s + expectedQuery},
        {"trailing slash", u"wss://relay.example.com/"_s,
         u"wss://relay.example.com/"_s + expectedQuery},
        {"only one trailing slash goes", u"wss://relay.example.com/sync//"_s,
         u"wss://relay.example.com/sync/"_s + expectedQuery},
        {"path and port kept", u"ws://10.0.0.2:8479/tindrel"_s,
         u"ws://10.0.0.2:8479/tindrel"_s + expectedQuery},
        {"existing query replaced", u"wss://relay.example.com/r?room=x&token=1"_s,
         u"wss://relay.example.com/r"_s + expectedQuery},
        {"slash then space", u"wss://relay.example.com/ "_s,
         u"wss://relay.example.com/"_s + expectedQuery},
        {"tabs and no-break spaces trimmed", u"\t\u00a0wss://relay.example.com\u00a0\t"_s,
         u"wss://relay.example.com/"_s + expectedQuery},
        {"https taken as wss", u"https://relay.example.com"_s,
         u"wss://relay.example.com/"_s + expectedQuery},
        {"a line break is not trimmed", u"wss://relay.example.com\n"_s, {}},
        {"empty", QString(), {}},
        {"no scheme", u"relay.example.com"_s, {}},
        {"other scheme", u"ftp://relay.example.com"_s, {}},
        {"space inside", u"wss://relay example.com"_s, {}},
    };
    for (const auto& c : cases) {
        const auto url = RelayLink::linkUrl(c.configured, room, u"ME"_s);
        if (c.expected.isEmpty()) {
            EXPECT_FALSE(url.has_value()) << c.name << ": " << url->toString().toStdString();
        } else {
            ASSERT_TRUE(url.has_value()) << c.name;
            EXPECT_EQ(url->toString(QUrl::FullyEncoded), c.expected) << c.name;
        }
    }
}

TEST(RelayLink, BacksOffByDoublingAndStartsOverAfterAnOpen) {
    SyncLogCapture log;
    const quint16 port = freePort();
    // Each refused attempt reports both an error and a close; only one
    // reconnect may come of them.
    auto link = makeLink(port, {.pingInterval = std::chrono::milliseconds(60'000),
                                .backoffUnit = std::chrono::milliseconds(15)});
    Observed seen;
    seen.watch(*link);
    link->start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return backoffs(log.messages()).size() >= 3; }, kWaitMs));

    FakeRelay relay;
    ASSERT_TRUE(relay.listen(port));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return !relay.sockets.empty() && link->isConnected(); }, kWaitMs));
    const QList<int> beforeOpen = backoffs(log.messages());
    const QList<int> doubling{2, 4, 8, 16, 30, 30, 30, 30};
    EXPECT_EQ(beforeOpen, doubling.first(beforeOpen.size()));

    relay.sockets.back()->close(QWebSocketProtocol::CloseCodeGoingAway);
    ASSERT_TRUE(QTest::qWaitFor([&] { return backoffs(log.messages()).size() > beforeOpen.size(); },
                                kWaitMs));
    EXPECT_EQ(backoffs(log.messages()).at(beforeOpen.size()), 2);
    EXPECT_TRUE(log.contains(u"relay connected for Peer"_s));
    EXPECT_TRUE(log.contains(u"relay closed for Peer (code 1001)"_s));
    ASSERT_TRUE(QTest::qWaitFor([&] { return seen.states.size() >= 2; }, kWaitMs));
    EXPECT_EQ(seen.states.first(2), (QList<bool>{true, false}));
}

TEST(RelayLink, ReplacedConnectionClosingDoesNotTouchItsReplacement) {
    SyncLogCapture log;
    FakeRelay relay;
    ASSERT_TRUE(relay.listen(0));
    auto link = makeLink(relay.server.serverPort(), {});
    Observed seen;
    seen.watch(*link);
    link->start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return link->isConnected(); }, kWaitMs));
    link->start(); // as a reconnect or a rebuild of the links does
    ASSERT_TRUE(QTest::qWaitFor([&] { return relay.sockets.size() == 2 && relay.disconnects == 1; },
                                kWaitMs));
    QCoreApplication::processEvents();

    EXPECT_TRUE(link->isConnected());
    EXPECT_EQ(seen.states, QList<bool>{true});
    EXPECT_FALSE(log.contains(u"relay closed"_s));
    EXPECT_TRUE(backoffs(log.messages()).isEmpty());
    // The replacement is the live one.
    relay.sockets.back()->sendBinaryMessage(
        SyncMessage::hello(u"PEER"_s, u"Peer"_s).seal(sessionKey).value());
    ASSERT_TRUE(QTest::qWaitFor([&] { return seen.messages.size() == 1; }, kWaitMs));
}

TEST(RelayLink, AnnouncesItsStateOnlyWhenItChanges) {
    FakeRelay relay;
    ASSERT_TRUE(relay.listen(0));
    auto link = makeLink(relay.server.serverPort(), {});
    Observed seen;
    seen.watch(*link);
    link->start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return link->isConnected(); }, kWaitMs));
    for (int i = 0; i < 3; ++i)
        relay.sockets.back()->sendBinaryMessage(SyncMessage::ping().seal(sessionKey).value());
    ASSERT_TRUE(QTest::qWaitFor([&] { return seen.messages.size() == 3; }, kWaitMs));
    link->close();
    link->close();
    QCoreApplication::processEvents();
    EXPECT_EQ(seen.states, (QList<bool>{true, false}));
}

TEST(RelayLink, MessagesSentWhileOpeningGoOutOnceOpen) {
    FakeRelay relay;
    ASSERT_TRUE(relay.listen(0));
    auto link = makeLink(relay.server.serverPort(), {});
    link->send(SyncMessage::ping()); // before connect: there is nothing to send on
    link->start();
    const SyncMessage hello = SyncMessage::hello(u"ME"_s, u"Me"_s);
    link->send(hello);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !relay.received.isEmpty(); }, kWaitMs));
    QCoreApplication::processEvents();
    ASSERT_EQ(relay.received.size(), 1);
    EXPECT_EQ(SyncMessage::open(relay.received.first(), sessionKey), hello);
}

TEST(RelayLink, UnansweredPingCountsAsAFailedPath) {
    // Completes the upgrade by hand, then never answers anything.
    QTcpServer mute;
    ASSERT_TRUE(mute.listen(QHostAddress::LocalHost, 0));
    std::vector<QTcpSocket*> peers;
    QObject::connect(&mute, &QTcpServer::newConnection, [&] {
        QTcpSocket* peer = mute.nextPendingConnection();
        peers.push_back(peer);
        QObject::connect(peer, &QTcpSocket::readyRead, [peer] {
            const QByteArray head = peer->peek(8192);
            if (!head.contains("\r\n\r\n") || peer->property("upgraded").toBool())
                return;
            peer->setProperty("upgraded", true);
            const QRegularExpression keyLine(u"Sec-WebSocket-Key: *([^\r]+)"_s,
                                             QRegularExpression::CaseInsensitiveOption);
            const QByteArray key = keyLine.match(QString::fromLatin1(head)).captured(1).toLatin1();
            const QByteArray accept =
                QCryptographicHash::hash(key + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11",
                                         QCryptographicHash::Sha1)
                    .toBase64();
            peer->write("HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\n"
                        "Connection: Upgrade\r\nSec-WebSocket-Accept: " +
                        accept + "\r\n\r\n");
        });
    });

    SyncLogCapture log;
    auto link = makeLink(mute.serverPort(), {.pingInterval = std::chrono::milliseconds(200),
                                             .backoffUnit = std::chrono::milliseconds(1000)});
    Observed seen;
    seen.watch(*link);
    link->start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return link->isConnected(); }, kWaitMs));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !backoffs(log.messages()).isEmpty(); }, kWaitMs));
    // Pings go on while the reconnect waits; none of them may add another.
    const qint64 seenBytes = peers.back()->bytesAvailable();
    const qint64 threePings = 3 * 6; // header and mask, no payload
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return peers.back()->bytesAvailable() >= seenBytes + threePings; }, kWaitMs));
    EXPECT_EQ(log.messages(), (QStringList{u"relay connected for Peer"_s,
                                           u"relay link to Peer reconnecting in 2s"_s}));
    // A ping error alone does not say the socket is down.
    EXPECT_TRUE(link->isConnected());
    link->close();
}

namespace {

// Fails `link` against a port where nothing listens until its back-off has
// logged `count` delays: each start() is one more refused attempt, so a long
// wait is reached without sitting through the shorter ones.
bool failUntil(RelayLink& link, const SyncLogCapture& log, qsizetype count) {
    while (backoffs(log.messages()).size() < count) {
        const qsizetype before = backoffs(log.messages()).size();
        link.start();
        if (!QTest::qWaitFor([&] { return backoffs(log.messages()).size() > before; }, kWaitMs))
            return false;
    }
    return true;
}

// Real seconds, so that a wait left alone outlasts every bound below.
const RelayLink::Timing secondsTiming{.pingInterval = std::chrono::milliseconds(60'000),
                                      .backoffUnit = std::chrono::milliseconds(1000)};

} // namespace

TEST(RelayLink, WaitsAreSpreadBelowTheLoggedDelay) {
    const std::chrono::milliseconds unit(1000);
    for (int attempt = 1; attempt <= 8; ++attempt) {
        const std::chrono::milliseconds nominal = RelayLink::backoffSeconds(attempt) * unit;
        QSet<qint64> seen;
        for (int draw = 0; draw < 200; ++draw) {
            const std::chrono::milliseconds delay = RelayLink::backoffDelay(attempt, unit);
            EXPECT_LE(delay, nominal) << attempt;
            EXPECT_GE(delay.count(), nominal.count() * 85 / 100) << attempt;
            EXPECT_LE(delay, std::chrono::milliseconds(30'000)) << attempt;
            seen.insert(delay.count());
        }
        // Links that failed together must not all wait the same.
        EXPECT_GT(seen.size(), 10) << attempt;
    }
}

TEST(RelayLink, RetryNowReconnectsAWaitingLinkAtOnce) {
    SyncLogCapture log;
    const quint16 port = freePort();
    auto link = makeLink(port, secondsTiming);
    EXPECT_FALSE(link->isWaitingToReconnect());
    ASSERT_TRUE(failUntil(*link, log, 5)); // now waiting 30 s
    EXPECT_EQ(backoffs(log.messages()), (QList<int>{2, 4, 8, 16, 30}));
    EXPECT_TRUE(link->isWaitingToReconnect());

    FakeRelay relay;
    ASSERT_TRUE(relay.listen(port));
    link->retryNow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return link->isConnected(); }, kWaitMs));
    EXPECT_FALSE(link->isWaitingToReconnect());

    // A connected link has nothing to retry: no second connection.
    link->retryNow();
    QTest::qWait(700);
    EXPECT_EQ(relay.sockets.size(), 1u);
    EXPECT_TRUE(link->isConnected());

    // The back-off started over with the retry.
    relay.sockets.back()->close(QWebSocketProtocol::CloseCodeGoingAway);
    ASSERT_TRUE(QTest::qWaitFor([&] { return backoffs(log.messages()).size() == 6; }, kWaitMs));
    EXPECT_EQ(backoffs(log.messages()).last(), 2);
    link->close();
    EXPECT_FALSE(link->isWaitingToReconnect());
}

TEST(RelayLink, ResetBackoffStartsOverAndCutsALongWait) {
    SyncLogCapture log;
    auto link = makeLink(freePort(), secondsTiming);
    ASSERT_TRUE(failUntil(*link, log, 5)); // now waiting 30 s
    link->resetBackoff();
    // The 30 s wait is cut to the first delay; its attempt fails again and
    // waits as a first failure does.
    ASSERT_TRUE(QTest::qWaitFor([&] { return backoffs(log.messages()).size() == 6; }, 2 * kWaitMs));
    EXPECT_EQ(backoffs(log.messages()), (QList<int>{2, 4, 8, 16, 30, 2}));

    // Once closed, nothing comes back to life.
    link->close();
    link->resetBackoff();
    link->retryNow();
    QTest::qWait(700);
    EXPECT_EQ(backoffs(log.messages()).size(), 6);
}
