#include "RelayClients.h"
#include "RelayProcess.h"
#include "RelayServer.h"
#include "core/store/Clip.h"
#include "core/sync/SyncCrypto.h"
#include "support/SyncLogCapture.h"
#include "support/SyncTestDevice.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <gtest/gtest.h>

// What a member of the relay room, or the path to the relay, can make a sync
// service do: the real relay process, a real service, and the test as the
// hostile or broken party.

using namespace Qt::StringLiterals;

namespace {

class SyncRelayAbuseTest : public ::testing::Test {
protected:
    void useRelay(SyncTestDevice& device, const QString& url) {
        device.prefs.setRelayEnabled(true);
        device.prefs.setRelayURL(url);
    }
    QString relayURL(const QString& scheme = u"ws"_s) const {
        return scheme + u"://127.0.0.1:"_s + QString::number(relay.port()) + u"/"_s;
    }

    SyncLogCapture log;
    RelayProcess relay;
    SyncTestDevice a{u"Anna"_s};
    SyncTestDevice b{u"Bert"_s};
};

} // namespace

// A ping costs its sender 43 bytes; the answer is the whole device list and
// pin snapshot. Replayed, it must not be answered again until something
// changed, and then not more than once a minute.
TEST_F(SyncRelayAbuseTest, AReplayedPingIsNotAnsweredAgainAndAgain) {
    ASSERT_TRUE(relay.start());
    pair(a, b);
    a.pins = {{{u"pinned on Anna"_s, 1'700'000'000.0}}, {}};
    useRelay(a, relayURL());
    a.boot();
    a.start();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return !a.service->relayConnectedPeerIds().isEmpty(); }, kWaitMs));

    // The attacker sits in the room with a ping it once saw go by.
    const QByteArray key = b.sessionKeyWith(a);
    Client attacker;
    ASSERT_TRUE(attacker.open(relay.url(SyncCrypto::roomId(key), u"X"_s)));
    const QByteArray ping = SyncMessage::ping().seal(key).value();
    const auto messagesOf = [&](SyncMessageType type) {
        QList<SyncMessage> out;
        for (const QByteArray& sealed : attacker.binary)
            if (auto message = SyncMessage::open(sealed, key); message && message->type == type)
                out.append(*message);
        return out;
    };
    const auto answers = [&] {
        return messagesOf(SyncMessageType::pins).size() +
               messagesOf(SyncMessageType::devices).size();
    };
    // A clip from the attacker after its pings, and one from Anna once she
    // has taken it: when hers is in, Anna has acted on every ping before,
    // and all she sent in answer has come ahead of her clip.
    int marks = 0;
    const auto markEnd = [&] {
        const QString text = u"mark "_s + QString::number(++marks);
        SyncMessage clip;
        clip.type = SyncMessageType::clip;
        clip.id = text;
        clip.text = text;
        clip.hash = SyncCrypto::hash(text);
        clip.createdAt = a.clock.now().unix();
        attacker.ws.sendBinaryMessage(clip.seal(key).value());
        if (!QTest::qWaitFor(
                [&] { return !a.received.isEmpty() && a.received.last().first == text; }, kWaitMs))
            return false;
        const QString back = text + u" back"_s;
        a.service->broadcast(Clip::make(back, a.clock.now()));
        return QTest::qWaitFor(
            [&] {
                const QList<SyncMessage> clips = messagesOf(SyncMessageType::clip);
                return !clips.isEmpty() && clips.last().text == back;
            },
            kWaitMs);
    };
    attacker.ws.sendBinaryMessage(ping);
    // The first one is a peer that just came, and gets the state.
    ASSERT_TRUE(markEnd());
    const qsizetype first = answers(); // the pins, and no list: Bert is Anna's only peer
    EXPECT_EQ(first, 1);
    for (int i = 0; i < 200; ++i)
        attacker.ws.sendBinaryMessage(ping);
    ASSERT_TRUE(markEnd());
    EXPECT_EQ(answers(), first);

    // Something changed: answered once more, but not within the minute.
    a.pins.first.append({u"pinned later"_s, 1'700'000'100.0});
    for (int i = 0; i < 50; ++i)
        attacker.ws.sendBinaryMessage(ping);
    ASSERT_TRUE(markEnd());
    EXPECT_EQ(answers(), first);
    a.clock.advance(61);
    attacker.ws.sendBinaryMessage(ping);
    ASSERT_TRUE(markEnd());
    EXPECT_EQ(answers(), 2 * first);
}

// A ping is answered once; what the answer holds must all arrive, even when
// its device list makes the receiver open a link to a new device.
TEST_F(SyncRelayAbuseTest, TheOneAnswerToAPingArrivesWhole) {
    ASSERT_TRUE(relay.start());
    SyncTestDevice c{u"Cleo"_s};
    pair(a, b);
    pair(a, c);
    a.pins = {{{u"pinned on Anna"_s, 1'700'000'000.0}}, {}};
    useRelay(a, relayURL());
    useRelay(b, relayURL());
    a.boot();
    b.boot();
    a.start();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return a.service->relayConnectedPeerIds().size() == 2; }, kWaitMs));
    QTest::qWait(200);
    b.start();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return b.service->peers().size() == 2 && !b.receivedPins.isEmpty(); }, kWaitMs));
    EXPECT_EQ(b.receivedPins.first().pins, a.pins.first);
}

// However many devices are paired, no more relay links are opened than the
// relay lets one address hold.
TEST_F(SyncRelayAbuseTest, RelayLinksStayWithinTheRelaysPerAddressLimit) {
    static_assert(SyncService::maxRelayLinks + 2 <= RelayServer::Limits{}.maxPerAddress);
    ASSERT_TRUE(relay.start());
    SyncPeerStore store(a.settings, a.clock);
    for (int i = 0; i < 40; ++i)
        ASSERT_TRUE(store.upsert(
            SyncDevice{u"D"_s + QString::number(i),
                       u"Device "_s + QString::number(i),
                       QString::fromLatin1(QByteArray(32, char('a' + i % 26)).toBase64()),
                       {},
                       {},
                       {}}));
    useRelay(a, relayURL());
    a.boot();
    a.start();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return a.service->relayConnectedPeerIds().size() == SyncService::maxRelayLinks; },
        kWaitMs));
    // A fixed wait: A opens all its links at once and says nothing more on
    // the path to the relay that could mark the end; the relay alone would
    // refuse one too many.
    QTest::qWait(300);
    EXPECT_EQ(a.service->relayConnectedPeerIds().size(), SyncService::maxRelayLinks);
    EXPECT_TRUE(log.contains(u"no relay link for 10 device(s)"_s));
    EXPECT_FALSE(relay.logContains(u"too many connections from"_s));
}

// A relay that cannot be reached says why, in the log and as the last event.
TEST_F(SyncRelayAbuseTest, AnUnreachableRelaySaysWhy) {
    pair(a, b);
    TestCertificate certificate;
    ASSERT_TRUE(certificate.ok) << certificate.error.constData();
    RelayProcess tlsRelay(certificate.relayOptions());
    ASSERT_TRUE(tlsRelay.start());

    QTcpServer closed; // a port nothing listens on once this is closed
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const quint16 closedPort = closed.serverPort();
    closed.close();

    // A web server that answers every request with one status.
    const auto httpServer = [](QTcpServer& server, QByteArray status) {
        EXPECT_TRUE(server.listen(QHostAddress::LocalHost));
        QObject::connect(&server, &QTcpServer::newConnection, &server, [&server, status] {
            while (QTcpSocket* socket = server.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, status] {
                    socket->readAll();
                    socket->write("HTTP/1.1 " + status +
                                  "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
                    socket->disconnectFromHost();
                });
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    };
    QTcpServer notFound;
    httpServer(notFound, "404 Not Found");
    QTcpServer unavailable;
    httpServer(unavailable, "503 Service Unavailable");

    struct Case {
        const char* what;
        QString url;
        QString said;
    };
    const QList<Case> cases = {
        {"self-signed certificate",
         u"wss://127.0.0.1:"_s + QString::number(tlsRelay.port()) + u"/"_s,
         u"its certificate was refused: The certificate is self-signed"_s},
        {"closed port", u"ws://127.0.0.1:"_s + QString::number(closedPort) + u"/"_s,
         u"the connection to 127.0.0.1:"_s + QString::number(closedPort) + u" was refused"_s},
        {"unresolvable name", u"ws://relay.example.invalid/"_s,
         u"the name relay.example.invalid does not resolve"_s},
        {"404", u"ws://127.0.0.1:"_s + QString::number(notFound.serverPort()) + u"/"_s, u"404"_s},
        {"503", u"ws://127.0.0.1:"_s + QString::number(unavailable.serverPort()) + u"/"_s,
         u"it answered HTTP 503 (Service Unavailable)"_s},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SyncTestDevice device{u"Cleo"_s};
        SyncPeerStore(device.settings, device.clock).upsert(b.record());
        useRelay(device, c.url);
        device.boot();
        device.start();
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                return device.service->lastEvent().startsWith(u"Cannot reach the relay: "_s) &&
                       device.service->lastEvent().contains(c.said);
            },
            kWaitMs))
            << device.service->lastEvent().toStdString();
        EXPECT_TRUE(log.contains(u"relay unreachable for Bert: "_s));
        EXPECT_TRUE(device.service->relayConnectedPeerIds().isEmpty());
    }
}
