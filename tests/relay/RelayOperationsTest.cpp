#include "RelayClients.h"
#include "RelayProcess.h"

#include <QFile>
#include <QHostAddress>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <csignal>
#include <gtest/gtest.h>

// What operators rely on: metrics that add up, health checks, a certificate
// reload that spares open connections, and a stop that tells clients.

using namespace Qt::StringLiterals;

namespace {

// The samples of a Prometheus text page by name and labels.
QMap<QString, quint64> samples(const QByteArray& page) {
    QMap<QString, quint64> values;
    for (const QByteArray& line : page.split('\n')) {
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const qsizetype space = line.lastIndexOf(' ');
        values.insert(QString::fromLatin1(line.left(space)), line.mid(space + 1).toULongLong());
    }
    return values;
}

QSslCertificate peerCertificate(Client& client) {
    return client.ws.sslConfiguration().peerCertificate();
}

} // namespace

TEST(RelayOperations, MetricsAddUpToWhatWasSentDroppedAndRefused) {
    RelayProcess relay({u"--metrics"_s, u"127.0.0.1:0"_s, u"--room-size"_s, u"2"_s});
    ASSERT_TRUE(relay.start());
    const quint16 metrics = relay.metricsPort();
    ASSERT_NE(metrics, 0);

    auto pair = openClients(relay, roomName("pair"), 2);
    pair[0]->ws.sendBinaryMessage("a");
    pair[0]->ws.sendBinaryMessage("bb");
    pair[1]->ws.sendBinaryMessage("ccc");
    pair[0]->ws.sendTextMessage(u"text goes nowhere"_s);
    ASSERT_TRUE(pair[1]->waitForBinary(2));
    ASSERT_TRUE(pair[0]->waitForBinary(1));
    auto alone = openClients(relay, roomName("alone"), 1);
    alone[0]->ws.sendBinaryMessage("nobody to hear it");
    auto big = openClients(relay, roomName("big"), 1);
    big[0]->ws.sendBinaryMessage(QByteArray(1'048'577, 'x'));
    ASSERT_TRUE(QTest::qWaitFor([&] { return big[0]->closed; }, kWaitMs));

    Client third;
    EXPECT_FALSE(third.open(relay.url(roomName("pair"))));
    auto bad = rawConnect(relay.port(), QHostAddress::LocalHost);
    EXPECT_EQ(upgradeStatus(*bad, upgradeRequest("/?room=short", relay.port())), 400);

    const QMap<QString, quint64> expected = {
        {u"tindrel_relay_messages_forwarded_total"_s, 3},
        {u"tindrel_relay_forwarded_bytes_total"_s, 6},
        {u"tindrel_relay_messages_dropped_total{reason=\"text\"}"_s, 1},
        {u"tindrel_relay_messages_dropped_total{reason=\"roomless\"}"_s, 1},
        {u"tindrel_relay_messages_dropped_total{reason=\"oversize\"}"_s, 1},
        {u"tindrel_relay_messages_dropped_total{reason=\"queue_budget\"}"_s, 0},
        {u"tindrel_relay_connections_refused_total{reason=\"room_full\"}"_s, 1},
        {u"tindrel_relay_connections_refused_total{reason=\"bad_request\"}"_s, 1},
        {u"tindrel_relay_connections_refused_total{reason=\"per_address\"}"_s, 0},
        {u"tindrel_relay_members_joined_total"_s, 4},
        {u"tindrel_relay_members"_s, 3},
        {u"tindrel_relay_rooms"_s, 2},
        {u"tindrel_relay_queued_bytes"_s, 0},
    };
    QMap<QString, quint64> seen;
    // The last events may still be on their way through the relay.
    const bool settled = QTest::qWaitFor(
        [&] {
            const auto [status, body] = httpGet(metrics, "/metrics");
            seen = samples(body);
            return std::all_of(expected.keyBegin(), expected.keyEnd(), [&](const QString& key) {
                return seen.value(key, ~0ULL) == expected.value(key);
            });
        },
        kWaitMs);
    for (auto it = expected.cbegin(); it != expected.cend(); ++it)
        EXPECT_EQ(seen.value(it.key(), ~0ULL), it.value()) << it.key().toStdString();
    EXPECT_TRUE(settled);
    EXPECT_GT(seen.value(u"process_resident_memory_bytes"_s), 1'000'000u);

    EXPECT_EQ(httpGet(metrics, "/healthz"), std::pair(200, QByteArray("ok\n")));
    EXPECT_EQ(httpGet(metrics, "/elsewhere").first, 404);
}

TEST(RelayOperations, SighupServesTheNewCertificateToNewMembersOnly) {
    const TestCertificate first;
    const TestCertificate second;
    ASSERT_TRUE(first.ok && second.ok) << first.error.constData() << second.error.constData();
    // The relay reads its certificate from these paths on start and on SIGHUP.
    QTemporaryDir dir;
    const QString cert = dir.filePath(u"cert.pem"_s);
    const QString key = dir.filePath(u"key.pem"_s);
    ASSERT_TRUE(QFile::copy(first.cert, cert) && QFile::copy(first.key, key));
    RelayProcess relay({u"--cert"_s, cert, u"--key"_s, key});
    ASSERT_TRUE(relay.start());
    const QString room = roomName("reload");
    auto old = openClients(relay, room, 1, u"wss"_s);
    const QList<QSslCertificate> firstCert = QSslCertificate::fromPath(first.cert);
    const QList<QSslCertificate> secondCert = QSslCertificate::fromPath(second.cert);
    ASSERT_EQ(peerCertificate(*old[0]), firstCert.value(0));

    // A broken pair is refused and the certificate in use stays.
    QFile::remove(key);
    ASSERT_TRUE(QFile(key).open(QIODevice::WriteOnly));
    relay.signal(SIGHUP);
    ASSERT_TRUE(relay.waitForLog(u"certificate not reloaded"_s));
    auto during = openClients(relay, room, 1, u"wss"_s);
    EXPECT_EQ(peerCertificate(*during[0]), firstCert.value(0));

    QFile::remove(cert);
    QFile::remove(key);
    ASSERT_TRUE(QFile::copy(second.cert, cert) && QFile::copy(second.key, key));
    relay.signal(SIGHUP);
    ASSERT_TRUE(relay.waitForLog(u"certificate reloaded"_s));
    auto fresh = openClients(relay, room, 1, u"wss"_s);
    EXPECT_EQ(peerCertificate(*fresh[0]), secondCert.value(0));
    ASSERT_EQ(old[0]->ws.state(), QAbstractSocket::ConnectedState);
    expectRoomWorks(*old[0], *fresh[0], "across the reload");
}

TEST(RelayOperations, SigtermClosesEveryMemberWithGoingAwayAndExits) {
    RelayProcess relay({u"--metrics"_s, u"127.0.0.1:0"_s});
    ASSERT_TRUE(relay.start());
    auto a = openClients(relay, roomName("a"), 2);
    auto b = openClients(relay, roomName("b"), 1);
    // One that never reads cannot hold up the stop.
    auto stalled = stalledMember(relay, roomName("b"), false, QHostAddress::LocalHost);

    relay.signal(SIGTERM);
    EXPECT_EQ(awaitCloseCode(*stalled), QWebSocketProtocol::CloseCodeGoingAway);
    EXPECT_EQ(relay.waitForExit(10'000), 0);
    for (Client* client : {a[0].get(), a[1].get(), b[0].get()}) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return client->closed; }, kWaitMs));
        EXPECT_EQ(client->ws.closeCode(), QWebSocketProtocol::CloseCodeGoingAway);
    }
    EXPECT_TRUE(relay.logContains(u"stopped"_s));
    Client late;
    EXPECT_FALSE(late.open(relay.url(roomName("a"))));
}

// A balancer polling /healthz must see the stop coming, even from a relay
// that has no member to wait for.
TEST(RelayOperations, HealthzAnswers503WhileTheRelayStops) {
    RelayProcess relay({u"--metrics"_s, u"127.0.0.1:0"_s});
    ASSERT_TRUE(relay.start());
    const quint16 metrics = relay.metricsPort();
    ASSERT_EQ(httpGet(metrics, "/healthz"), std::pair(200, QByteArray("ok\n")));

    relay.signal(SIGTERM);
    ASSERT_TRUE(relay.waitForLog(u"stopping:"_s));
    // Long past the moment a relay with nobody to close is done.
    QTest::qWait(300);
    EXPECT_EQ(httpGet(metrics, "/healthz"), std::pair(503, QByteArray("stopping\n")));
    Client late;
    EXPECT_FALSE(late.open(relay.url(roomName("late"))));
    EXPECT_EQ(relay.waitForExit(10'000), 0);
    EXPECT_TRUE(relay.logContains(u"stopped"_s));
}
