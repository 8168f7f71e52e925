#include "core/sync/RelayLink.h"
#include "RelayProcess.h"
#include "core/sync/SyncCrypto.h"
#include "support/SyncLogCapture.h"

#include <QTest>
#include <QWebSocket>
#include <gtest/gtest.h>
#include <memory>

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
    const QUrl url = RelayLink::linkUrl(QStringLiteral("ws://127.0.0.1:%1/").arg(relay.port()),
                                        SyncCrypto::roomId(roomKey), device)
                         .value();
    endpoint->link =
        std::make_unique<RelayLink>(url, QStringLiteral("peer-of-") + device, device, key, device);
    endpoint->link->setTiming({.pingIntervalMs = 25'000, .backoffUnitMs = 20});
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
    auto a = open(relay, QStringLiteral("A"));
    auto b = open(relay, QStringLiteral("B"));
    // Same key, other room: it could read a misrouted message.
    auto c = open(relay, QStringLiteral("C"), pairKey, QByteArray(32, 'o'));
    auto d = open(relay, QStringLiteral("D"), pairKey, QByteArray(32, 'o'));
    ASSERT_TRUE(a->waitConnected() && b->waitConnected() && c->waitConnected() &&
                d->waitConnected());

    a->link->send(clip(QStringLiteral("from A")));
    b->link->send(clip(QStringLiteral("from B")));
    ASSERT_TRUE(b->waitForMessages(1));
    ASSERT_TRUE(a->waitForMessages(1));
    d->link->send(clip(QStringLiteral("from D")));
    ASSERT_TRUE(c->waitForMessages(1));

    EXPECT_EQ(a->messages, QList<SyncMessage>{clip(QStringLiteral("from B"))});
    EXPECT_EQ(b->messages, QList<SyncMessage>{clip(QStringLiteral("from A"))});
    EXPECT_EQ(c->messages, QList<SyncMessage>{clip(QStringLiteral("from D"))});
}

TEST(RelayLinkThroughRelay, ReconnectsWithBackOffWhenTheRelayComesBack) {
    SyncLogCapture log;
    RelayProcess relay;
    ASSERT_TRUE(relay.start());
    const quint16 port = relay.port();
    auto a = open(relay, QStringLiteral("A"));
    auto b = open(relay, QStringLiteral("B"));
    ASSERT_TRUE(a->waitConnected() && b->waitConnected());

    relay.kill();
    // At least two attempts fail before the relay is back.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return log.contains(QStringLiteral("relay link to A reconnecting in 4s")); },
        kWaitMs));
    // Killed, the relay sent no close frame: an abnormal closure, not a normal one.
    EXPECT_TRUE(log.contains(QStringLiteral("relay closed for A (code 1006)")));
    EXPECT_TRUE(log.contains(QStringLiteral("relay link to A reconnecting in 2s")));
    EXPECT_FALSE(a->link->isConnected());

    ASSERT_TRUE(relay.start(port));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return log.count(QStringLiteral("relay connected for A")) == 2 &&
                   log.count(QStringLiteral("relay connected for B")) == 2;
        },
        kWaitMs));
    a->link->send(clip(QStringLiteral("after the restart")));
    ASSERT_TRUE(b->waitForMessages(1));
    EXPECT_EQ(b->messages.first(), clip(QStringLiteral("after the restart")));
    EXPECT_EQ(a->states, (QList<bool>{true, false, true}));
}

TEST(RelayLinkThroughRelay, DropsWhatDoesNotOpenAndStaysConnected) {
    RelayProcess relay;
    ASSERT_TRUE(relay.start());
    auto a = open(relay, QStringLiteral("A"));
    ASSERT_TRUE(a->waitConnected());
    QWebSocket stranger;
    stranger.open(relay.url(SyncCrypto::roomId(pairKey), QStringLiteral("X")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return stranger.state() == QAbstractSocket::ConnectedState; },
                                kWaitMs));

    stranger.sendTextMessage(QStringLiteral("{\"type\":\"clip\",\"text\":\"plain\"}"));
    stranger.sendBinaryMessage(clip(QStringLiteral("other key")).seal(QByteArray(32, 'x')).value());
    stranger.sendBinaryMessage(QByteArray(100, '\x01'));
    stranger.sendBinaryMessage(clip(QStringLiteral("right key")).seal(pairKey).value());
    ASSERT_TRUE(a->waitForMessages(1));
    QCoreApplication::processEvents();

    EXPECT_EQ(a->messages, QList<SyncMessage>{clip(QStringLiteral("right key"))});
    EXPECT_EQ(a->states, QList<bool>{true});
    EXPECT_TRUE(a->link->isConnected());
    EXPECT_FALSE(relay.logContains(QStringLiteral(" left room")));
}

TEST(RelayLinkThroughRelay, StoppedLinkStaysSilent) {
    SyncLogCapture log;
    RelayProcess relay;
    ASSERT_TRUE(relay.start());
    auto a = open(relay, QStringLiteral("A"));
    auto b = open(relay, QStringLiteral("B"));
    auto c = open(relay, QStringLiteral("C"));
    ASSERT_TRUE(a->waitConnected() && b->waitConnected() && c->waitConnected());

    a->link->close();
    ASSERT_TRUE(relay.waitForLog(QStringLiteral(" left room")));
    b->link->send(clip(QStringLiteral("after stop")));
    ASSERT_TRUE(c->waitForMessages(1));

    a->link->start();
    relay.kill();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return log.contains(QStringLiteral("relay link to B reconnecting in 4s")); },
        kWaitMs));

    EXPECT_TRUE(a->messages.isEmpty());
    EXPECT_EQ(a->states, (QList<bool>{true, false}));
    EXPECT_EQ(relay.logCount(QStringLiteral(" joined room")), 3);
    EXPECT_FALSE(log.contains(QStringLiteral("relay link to A")));
    EXPECT_FALSE(log.contains(QStringLiteral("relay closed for A")));
}

TEST(RelayLinkThroughRelay, LogsTheCodeOfACloseFromTheRelay) {
    SyncLogCapture log;
    // Anything the link sends is too large for this relay, which closes it with 1009.
    RelayProcess relay({QStringLiteral("--max-message"), QStringLiteral("64")});
    ASSERT_TRUE(relay.start());
    auto a = open(relay, QStringLiteral("A"));
    ASSERT_TRUE(a->waitConnected());

    a->link->send(clip(QString(100, u'x')));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return log.contains(QStringLiteral("relay closed for A (code ")); }, kWaitMs));
    EXPECT_TRUE(log.contains(QStringLiteral("relay closed for A (code 1009)")));
}
