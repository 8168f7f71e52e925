#include "core/sync/RelayProbe.h"

#include <QFile>
#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

using namespace Qt::StringLiterals;

// RelayProbe against listeners on 127.0.0.1 that count what reaches them.

namespace {

constexpr int kWaitMs = 5000;
// Many probe intervals: long enough for a probe that should not report or
// connect to have done so.
constexpr int kQuietMs = 600;
const RelayProbe::Timing fastTiming{.interval = std::chrono::milliseconds(50),
                                    .connectTimeout = std::chrono::milliseconds(2000)};

quint16 freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// A relay stand-in that counts the connections it accepts.
struct CountingListener {
    CountingListener() {
        QObject::connect(&server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* socket = server.nextPendingConnection()) {
                ++accepted;
                socket->deleteLater();
            }
        });
    }
    bool listen(quint16 port) { return server.listen(QHostAddress::LocalHost, port); }
    QTcpServer server;
    int accepted = 0;
};

struct Probe {
    explicit Probe(quint16 port) : probe(QUrl(u"ws://127.0.0.1:%1/?room=r&device=d"_s.arg(port))) {
        probe.setTiming(fastTiming);
        QObject::connect(&probe, &RelayProbe::reachable, &probe, [this] { ++reports; });
    }
    RelayProbe probe;
    int reports = 0;
};

} // namespace

TEST(RelayProbe, TakesThePortFromTheLinkUrl) {
    const struct {
        QString url;
        QString host;
        quint16 port;
    } cases[] = {
        {u"ws://relay.example.com/?room=r"_s, u"relay.example.com"_s, 80},
        {u"wss://relay.example.com/?room=r"_s, u"relay.example.com"_s, 443},
        {u"wss://relay.example.com:8443/sync?room=r"_s, u"relay.example.com"_s, 8443},
        {u"ws://10.0.0.2:8479/"_s, u"10.0.0.2"_s, 8479},
    };
    for (const auto& c : cases) {
        const RelayProbe probe{QUrl(c.url)};
        EXPECT_EQ(probe.host(), c.host) << c.url.toStdString();
        EXPECT_EQ(probe.port(), c.port) << c.url.toStdString();
    }
}

TEST(RelayProbe, ReportsOnceTheRelayListensAndNotBefore) {
    const quint16 port = freePort();
    Probe p(port);
    p.probe.start();
    QTest::qWait(kQuietMs); // refused, attempt after attempt
    EXPECT_EQ(p.reports, 0);
    EXPECT_TRUE(p.probe.isRunning());

    CountingListener relay;
    ASSERT_TRUE(relay.listen(port));
    ASSERT_TRUE(QTest::qWaitFor([&] { return p.reports == 1; }, kWaitMs));
    EXPECT_FALSE(p.probe.isRunning());
    ASSERT_TRUE(QTest::qWaitFor([&] { return relay.accepted == 1; }, kWaitMs));

    // Reported once, it has stopped: no more connections, no more reports.
    QTest::qWait(kQuietMs);
    EXPECT_EQ(relay.accepted, 1);
    EXPECT_EQ(p.reports, 1);

    // And it can be started again.
    p.probe.start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return p.reports == 2; }, kWaitMs));
    EXPECT_EQ(relay.accepted, 2);
}

TEST(RelayProbe, StopEndsTheAttempts) {
    // Stopped before its first attempt, and stopped after refused ones.
    for (const int runMs : {0, 300}) {
        const quint16 port = freePort();
        Probe p(port);
        p.probe.start();
        QTest::qWait(runMs);
        p.probe.stop();
        EXPECT_FALSE(p.probe.isRunning()) << runMs;

        CountingListener relay;
        ASSERT_TRUE(relay.listen(port));
        QTest::qWait(kQuietMs);
        EXPECT_EQ(relay.accepted, 0) << runMs;
        EXPECT_EQ(p.reports, 0) << runMs;
    }
}

// The local ports of the connections to `port` on 127.0.0.1 still waiting
// for the other end's answer to their SYN, as the kernel lists them.
QList<quint16> synSentPortsTo(quint16 port) {
    QFile table(u"/proc/net/tcp"_s);
    if (!table.open(QIODevice::ReadOnly))
        return {};
    QList<quint16> out;
    const QString remote = u"0100007F:%1"_s.arg(port, 4, 16, QChar(u'0')).toUpper();
    for (const QByteArray& line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 3 && QString::fromLatin1(fields[2]) == remote && fields[3] == "02")
            out.append(fields[1].split(':').value(1).toUShort(nullptr, 16));
    }
    return out;
}

TEST(RelayProbe, GivesUpOnAHangingConnectAndTriesAgain) {
    // A listener whose accept queue is full: the kernel drops further SYNs,
    // so a connect neither opens nor fails.
    QTcpServer stuck;
    stuck.setListenBacklogSize(0);
    ASSERT_TRUE(stuck.listen(QHostAddress::LocalHost, 0));
    stuck.pauseAccepting();
    const quint16 port = stuck.serverPort();
    std::vector<std::unique_ptr<QTcpSocket>> fillers;
    for (;;) {
        auto filler = std::make_unique<QTcpSocket>();
        filler->connectToHost(QHostAddress::LocalHost, port);
        if (!filler->waitForConnected(300))
            break; // dropped: the queue is full
        fillers.push_back(std::move(filler));
        ASSERT_LT(fillers.size(), 64u);
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return synSentPortsTo(port).isEmpty(); }, kWaitMs));

    Probe p(port);
    p.probe.setTiming({.interval = std::chrono::milliseconds(50),
                       .connectTimeout = std::chrono::milliseconds(150)});
    p.probe.start();
    // Each attempt is given up and the next one comes from a new socket;
    // never two at once.
    QSet<quint16> attempts;
    int mostAtOnce = 0;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const QList<quint16> now = synSentPortsTo(port);
            mostAtOnce = std::max(mostAtOnce, int(now.size()));
            for (quint16 local : now)
                attempts.insert(local);
            return attempts.size() >= 3;
        },
        kWaitMs));
    EXPECT_EQ(mostAtOnce, 1);
    EXPECT_EQ(p.reports, 0);

    // Room in the queue again: the next attempt gets through.
    stuck.resumeAccepting();
    ASSERT_TRUE(QTest::qWaitFor([&] { return p.reports == 1; }, kWaitMs));
    EXPECT_TRUE(synSentPortsTo(port).isEmpty());
}

// Stops the probe just before a queued call reaches it, the way an owner's
// stop() can come between a connect and the report of it.
class StopBeforeQueuedCall : public QObject {
public:
    explicit StopBeforeQueuedCall(RelayProbe& probe) : m_probe(probe) {
        probe.installEventFilter(this);
    }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == &m_probe && event->type() == QEvent::MetaCall) {
            ++stops;
            m_probe.stop();
        }
        return false;
    }
    int stops = 0;

private:
    RelayProbe& m_probe;
};

TEST(RelayProbe, NothingIsReportedAfterStop) {
    CountingListener relay;
    ASSERT_TRUE(relay.listen(0));
    Probe p(relay.server.serverPort());
    StopBeforeQueuedCall stopper(p.probe);
    p.probe.start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return stopper.stops > 0; }, kWaitMs));
    QTest::qWait(kQuietMs);
    EXPECT_EQ(p.reports, 0);
    EXPECT_EQ(relay.accepted, 1);
}
