#include "RelayClients.h"
#include "RelayProcess.h"

#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>
#include <array>
#include <gtest/gtest.h>

// Three relays behind a real HAProxy that balances upgrades by a consistent
// hash of the room: a room's members always meet on one relay, and when a
// relay dies only its rooms move.

using namespace Qt::StringLiterals;

namespace {

constexpr int kRooms = 50;

quint16 freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// The configuration relay/README.md shows, with this test's ports.
QByteArray haproxyConfig(quint16 front, const std::vector<std::unique_ptr<RelayProcess>>& relays) {
    QByteArray config = "defaults\n"
                        "    mode http\n"
                        "    timeout connect 2s\n"
                        "    timeout client 120s\n"
                        "    timeout server 120s\n"
                        "    timeout tunnel 1h\n"
                        "frontend relay\n"
                        "    bind 127.0.0.1:" +
                        QByteArray::number(front) +
                        "\n"
                        "    default_backend relays\n"
                        "backend relays\n"
                        "    balance url_param room\n"
                        "    hash-type consistent\n"
                        "    option httpchk GET /healthz\n"
                        "    http-check expect status 200\n"
                        "    default-server inter 200ms fall 2 rise 2 on-marked-down "
                        "shutdown-sessions\n";
    for (size_t i = 0; i < relays.size(); ++i)
        config += "    server relay" + QByteArray::number(i + 1) +
                  " 127.0.0.1:" + QByteArray::number(relays[i]->port()) + " check port " +
                  QByteArray::number(relays[i]->metricsPort()) + '\n';
    return config;
}

struct Load {
    quint64 rooms = 0;
    quint64 members = 0;
};

Load loadOf(RelayProcess& relay) {
    Load load;
    const auto [status, body] = httpGet(relay.metricsPort(), "/metrics");
    for (const QByteArray& line : body.split('\n')) {
        if (line.startsWith("tindrel_relay_rooms "))
            load.rooms = line.mid(20).toULongLong();
        else if (line.startsWith("tindrel_relay_members "))
            load.members = line.mid(22).toULongLong();
    }
    return load;
}

} // namespace

TEST(RelayScaleOut, RoomsKeepTogetherBehindHaproxyAndMoveWhenTheirRelayDies) {
    const QString haproxy = QStandardPaths::findExecutable(u"haproxy"_s);
    if (haproxy.isEmpty())
        GTEST_SKIP() << "haproxy is not installed (Debian: apt-get install haproxy)";

    std::vector<std::unique_ptr<RelayProcess>> relays;
    for (int i = 0; i < 3; ++i) {
        // Every client comes from HAProxy's address.
        relays.push_back(std::make_unique<RelayProcess>(
            QStringList{u"--metrics"_s, u"127.0.0.1:0"_s, u"--per-address"_s, u"100000"_s}));
        ASSERT_TRUE(relays.back()->start());
    }
    QTemporaryDir dir;
    const QString configPath = dir.filePath(u"haproxy.cfg"_s);
    const quint16 front = freePort();
    {
        QFile config(configPath);
        ASSERT_TRUE(config.open(QIODevice::WriteOnly));
        config.write(haproxyConfig(front, relays));
    }
    QProcess balancer;
    balancer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    balancer.start(haproxy, {u"-db"_s, u"-f"_s, configPath});
    ASSERT_TRUE(balancer.waitForStarted(5000));
    const auto stopBalancer = qScopeGuard([&] {
        balancer.kill();
        balancer.waitForFinished(5000);
    });
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, front);
            return probe.waitForConnected(200);
        },
        kWaitMs));

    const auto url = [&](int room, int device) {
        return QUrl(u"ws://127.0.0.1:"_s + QString::number(front) + u"/?room="_s +
                    roomName("scale" + QByteArray::number(room)) + u"&device="_s +
                    QString::number(device));
    };
    std::vector<std::array<std::unique_ptr<Client>, 2>> rooms(kRooms);
    for (int r = 0; r < kRooms; ++r)
        for (int d = 0; d < 2; ++d) {
            rooms[r][d] = std::make_unique<Client>();
            ASSERT_TRUE(rooms[r][d]->open(url(r, d))) << "room " << r;
        }
    const auto exchangeEverywhere = [&](const QByteArray& tag) {
        for (int r = 0; r < kRooms; ++r)
            expectRoomWorks(*rooms[r][0], *rooms[r][1], tag + QByteArray::number(r));
    };
    exchangeEverywhere("first ");

    // Both members of every room on one relay: a split room would show as a
    // room on two relays with one member each.
    std::array<Load, 3> loads{};
    quint64 totalRooms = 0;
    for (size_t i = 0; i < relays.size(); ++i) {
        loads[i] = loadOf(*relays[i]);
        EXPECT_EQ(loads[i].members, 2 * loads[i].rooms) << "relay " << i + 1;
        totalRooms += loads[i].rooms;
    }
    EXPECT_EQ(totalRooms, quint64(kRooms));
    const size_t victim = static_cast<size_t>(
        std::max_element(loads.begin(), loads.end(),
                         [](const Load& a, const Load& b) { return a.rooms < b.rooms; }) -
        loads.begin());
    ASSERT_GT(loads[victim].rooms, 0u);

    for (auto& room : rooms)
        for (auto& client : room)
            client->closed = false;
    relays[victim]->kill();

    const auto closedCount = [&] {
        int closed = 0;
        for (auto& room : rooms)
            for (auto& client : room)
                closed += client->closed ? 1 : 0;
        return closed;
    };
    const int expectMoved = static_cast<int>(2 * loads[victim].rooms);
    ASSERT_TRUE(QTest::qWaitFor([&] { return closedCount() >= expectMoved; }, kWaitMs));
    // Every member still open passes a message to its room mate: had it been
    // cut off by mistake, the close would have come first on its connection.
    for (auto& room : rooms)
        if (!room[0]->closed && !room[1]->closed)
            expectRoomWorks(*room[0], *room[1], "still there");
    EXPECT_EQ(closedCount(), expectMoved) << "members of other relays' rooms were cut off";

    // The dead relay's members reconnect as clients do, with a back-off,
    // until HAProxy has seen it go and sends them to a live one.
    for (int r = 0; r < kRooms; ++r) {
        for (auto& client : rooms[r]) {
            if (!client->closed)
                continue;
            int backOffMs = 100;
            ASSERT_TRUE(QTest::qWaitFor(
                [&] {
                    if (client->open(url(r, 9)))
                        return true;
                    QTest::qWait(backOffMs);
                    backOffMs = std::min(backOffMs * 2, 1000);
                    return false;
                },
                15000))
                << "room " << r << " did not come back";
        }
    }
    exchangeEverywhere("after ");

    totalRooms = 0;
    for (size_t i = 0; i < relays.size(); ++i) {
        if (i == victim)
            continue;
        const Load load = loadOf(*relays[i]);
        EXPECT_EQ(load.members, 2 * load.rooms) << "relay " << i + 1;
        // The survivors' own rooms stayed where they were.
        EXPECT_GE(load.rooms, loads[i].rooms) << "relay " << i + 1;
        totalRooms += load.rooms;
    }
    EXPECT_EQ(totalRooms, quint64(kRooms));
}
