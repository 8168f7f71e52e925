#include "core/sync/RelayLink.h"
#include "RelayProcess.h"
#include "core/sync/SyncCrypto.h"
#include "support/SyncLogCapture.h"

#include <QTest>
#include <QWebSocket>
#include <gtest/gtest.h>
#include <memory>

using namespace Qt::StringLiterals;

// RelayLink end to end through a real tindrel-relay process on loopback.

namespace {

constexpr int kWaitMs = 5000;
const QByteArray pairKey(32, 'k');

struct Endpoint {
    std::unique_ptr<RelayLink> link;
    QList<SyncMessage> messages;
    QList<bool> states;

    bool waitForMessages(qsizetype count) {
        return QTest::qWaitFor([&] { return messages.size() >= count; }, kWaitMs);
    }
    bool waitConnected() {
        return QTest::qWaitFor([&] { return link->isConnected(); }, kWaitMs);
    }
};

// A link for device `device`, named after it in log lines, in the room of `key`.
std::unique_ptr<Endpoint> open(RelayProcess& relay, const QString& device,
                               const QByteArray& key = pairKey,
                               const QByteArray& roomKey = pairKey) {
    auto endpoint = std::make_unique<Endpoint>();
    const QUrl url = RelayLink::linkUrl(u"ws://127.0.0.1:%1/"_s.arg(relay.port()),
                                        SyncCrypto::roomId(roomKey), device)
                         .value();
    endpoint->link = std::make_unique<RelayLink>(url, u"peer-of-"_s + device, device, key, device);
    endpoint->link->setTiming({.pingInterval = std::chrono::milliseconds(25'000),
                               .backoffUnit = std::chrono::milliseconds(20)});
    Endpoint* raw = endpoint.get();
    RelayLink* link = endpoint->link.get();
    QObject::connect(link, &RelayLink::messageReceived, link,
                     [raw](const SyncMessage& m) { raw->messages.append(m); });
    QObject::connect(link, &RelayLink::connectedChanged, link,
                     [raw](bool connected) { raw->states.append(connected); });
    endpoint->link->start();
    return endpoint;
}

SyncMessage clip(const QString& text) {
    SyncMessage message;
    message.type = SyncMessageType::clip;
    message.text = text;
    message.hash = SyncCrypto::hash(text);
    return message;
}

} // namespace

TEST(RelayLinkThroughRelay, LinksInOneRoomExchangeAndOtherRoomsSeeNothing) {
    RelayProcess relay;
    ASSERT_TRUE(relay.start());
    auto a = open(relay, u"A"_s);
    auto b = open(relay, u"B"_s);
    // Same key, other room: it could read a misrouted message.
    auto c = open(relay, u"C"_s, pairKey, QByteArray(32, 'o'));
    auto d = open(relay, u"D"_s, pairKey, QByteArray(32, 'o'));
    ASSERT_TRUE(a->waitConnected() && b->waitConnected() && c->waitConnected() &&
                d->waitConnected());

    a->link->send(clip(u"from A"_s));
    b->link->send(clip(u"from B"_s));
    ASSERT_TRUE(b->waitForMessages(1));
    ASSERT_TRUE(a->waitForMessages(1));
    d->link->send(clip(u"from D"_s));
    ASSERT_TRUE(c->waitForMessages(1));

    EXPECT_EQ(a->messages, QList<SyncMessage>{clip(u"from B"_s)});
    EXPECT_EQ(b->messages, QList<SyncMessage>{clip(u"from A"_s)});
    EXPECT_EQ(c->messages, QList<SyncMessage>{clip(u"from D"_s)});
}

TEST(RelayLinkThroughRelay, ReconnectsWithBackOffWhenTheRelayComesBack) {
    SyncLogCapture log;
    RelayProcess relay;
    ASSERT_TRUE(relay.start());
    const quint16 port = relay.port();
    auto a = open(relay, u"A"_s);
    auto b = open(relay, u"B"_s);
    ASSERT_TRUE(a->waitConnected() && b->waitConnected());

    relay.kill();
    // At least two attempts fail before the relay is back.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return log.contains(u"relay link to A reconnecting in 4s"_s); }, kWaitMs));
    // Killed, the relay sent no close frame: an abnormal closure, not a normal one.
    EXPECT_TRUE(log.contains(u"relay closed for A (code 1006)"_s));
    EXPECT_TRUE(log.contains(u"relay link to A reconnecting in 2s"_s));
    EXPECT_FALSE(a->link->isConnected());

    ASSERT_TRUE(relay.start(port));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return log.count(u"relay connected for A"_s) == 2 &&
                   log.count(u"relay connected for B"_s) == 2;
        },
        kWaitMs));
    a->link->send(clip(u"after the restart"_s));
    ASSERT_TRUE(b->waitForMessages(1));
    EXPECT_EQ(b->messages.first(), clip(u"after the restart"_s));
    EXPECT_EQ(a->states, (QList<bool>{true, false, true}));
}

TEST(RelayLinkThroughRelay, DropsWhatDoesNotOpenAndStaysConnected) {
    RelayProcess relay;
    ASSERT_TRUE(relay.start());
    auto a = open(relay, u"A"_s);
    ASSERT_TRUE(a->waitConnected());
    QWebSocket stranger;
    stranger.open(relay.url(SyncCrypto::roomId(pairKey), u"X"_s));
    ASSERT_TRUE(QTest::qWaitFor([&] { return stranger.state() == QAbstractSocket::ConnectedState; },
                                kWaitMs));

    stranger.sendTextMessage(u"{\"type\":\"clip\",\"text\":\"plain\"}"_s);
    stranger.sendBinaryMessage(clip(u"other key"_s).seal(QByteArray(32, 'x')).value());
    stranger.sendBinaryMessage(QByteArray(100, '\x01'));
    stranger.sendBinaryMessage(clip(u"right key"_s).seal(pairKey).value());
    ASSERT_TRUE(a->waitForMessages(1));
    QCoreApplication::processEvents();

    EXPECT_EQ(a->messages, QList<SyncMessage>{clip(u"right key"_s)});
    EXPECT_EQ(a->states, QList<bool>{true});
    EXPECT_TRUE(a->link->isConnected());
    EXPECT_FALSE(relay.logContains(u" left room"_s));
}

TEST(RelayLinkThroughRelay, StoppedLinkStaysSilent) {
    SyncLogCapture log;
    RelayProcess relay;
    ASSERT_TRUE(relay.start());
    auto a = open(relay, u"A"_s);
    auto b = open(relay, u"B"_s);
    auto c = open(relay, u"C"_s);
    ASSERT_TRUE(a->waitConnected() && b->waitConnected() && c->waitConnected());

    a->link->close();
    ASSERT_TRUE(relay.waitForLog(u" left room"_s));
    b->link->send(clip(u"after stop"_s));
    ASSERT_TRUE(c->waitForMessages(1));

    a->link->start();
    relay.kill();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return log.contains(u"relay link to B reconnecting in 4s"_s); }, kWaitMs));

    EXPECT_TRUE(a->messages.isEmpty());
    EXPECT_EQ(a->states, (QList<bool>{true, false}));
    EXPECT_EQ(relay.logCount(u" joined room"_s), 3);
    EXPECT_FALSE(log.contains(u"relay link to A"_s));
    EXPECT_FALSE(log.contains(u"relay closed for A"_s));
}

TEST(RelayLinkThroughRelay, LogsTheCodeOfACloseFromTheRelay) {
    SyncLogCapture log;
    // Anything the link sends is too large for this relay, which closes it with 1009.
    RelayProcess relay({u"--max-message"_s, u"64"_s});
    ASSERT_TRUE(relay.start());
    auto a = open(relay, u"A"_s);
    ASSERT_TRUE(a->waitConnected());

    a->link->send(clip(QString(100, u'x')));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return log.contains(u"relay closed for A (code "_s); }, kWaitMs));
    EXPECT_TRUE(log.contains(u"relay closed for A (code 1009)"_s));
}
