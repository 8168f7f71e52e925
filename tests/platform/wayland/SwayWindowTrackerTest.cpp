#include "platform/wayland/SwayWindowTracker.h"
#include "support/QtPrinters.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QTest>
#include <cstring>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {
QString flag(bool on) {
    return on ? u"true"_s : u"false"_s;
}

// A workspace holding a tiled native window and a floating XWayland one;
// `focus` names the node (by id) that has the focus.
QJsonObject tree(int focus, qint64 nativePid = 4242) {
    const QString json = uR"({"id":1,"type":"root","focused":%1,"nodes":[
      {"id":3,"type":"output","nodes":[
        {"id":4,"type":"workspace","name":"1","focused":%2,"nodes":[
          {"id":7,"type":"con","name":"notes.txt - Editor","app_id":"org.example.Editor",
           "pid":%3,"focused":%4,"nodes":[]}],
         "floating_nodes":[
          {"id":9,"type":"floating_con","name":"xterm","app_id":null,"pid":5151,
           "window_properties":{"class":"XTerm","instance":"xterm","title":"xterm"},
           "focused":%5,"nodes":[]}]}]}]})"_s.arg(flag(focus == 1))
                             .arg(flag(focus == 4))
                             .arg(nativePid)
                             .arg(flag(focus == 7))
                             .arg(flag(focus == 9));
    return QJsonDocument::fromJson(json.toUtf8()).object();
}

QByteArray frame(quint32 type, const QByteArray& payload) {
    QByteArray out("i3-ipc");
    const quint32 header[2] = {quint32(payload.size()), type};
    out.append(reinterpret_cast<const char*>(header), sizeof header);
    return out + payload;
}
} // namespace

TEST(SwayWindowTracker, FindsTheFocusedWindowInATree) {
    const qint64 ownPid = QCoreApplication::applicationPid();
    struct Case {
        const char* name;
        QJsonObject tree;
        std::optional<FrontmostApp> expected;
    };
    FrontmostApp native;
    native.window = 7;
    native.pid = 4242;
    native.appId = u"org.example.Editor"_s;
    native.name = u"notes.txt - Editor"_s;
    native.windowClass = native.windowInstance = u"org.example.Editor"_s;
    FrontmostApp ours = native;
    ours.pid = ownPid;
    ours.isOwnProcess = true;
    FrontmostApp x11;
    x11.window = 9;
    x11.pid = 5151;
    x11.appId = u"XTerm"_s;
    x11.name = u"xterm"_s;
    x11.windowClass = u"XTerm"_s;
    x11.windowInstance = u"xterm"_s;
    const Case cases[] = {
        {"native window", tree(7), native},
        {"our own window", tree(7, ownPid), ours},
        {"floating XWayland window", tree(9), x11},
        {"empty workspace", tree(4), std::nullopt},
        {"nothing focused", tree(0), std::nullopt},
        {"not a tree", QJsonObject{{u"nodes"_s, u"x"_s}}, std::nullopt},
    };
    auto tracker = SwayWindowTracker::connect(u"/nonexistent/sway.sock"_s);
    ASSERT_TRUE(tracker);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto found = tracker->focusedIn(c.tree);
        ASSERT_EQ(found.has_value(), c.expected.has_value());
        if (found) {
            EXPECT_EQ(found->window, c.expected->window);
            EXPECT_EQ(found->pid, c.expected->pid);
            EXPECT_EQ(found->name, c.expected->name);
            EXPECT_EQ(found->windowClass, c.expected->windowClass);
            EXPECT_EQ(found->windowInstance, c.expected->windowInstance);
            EXPECT_EQ(found->isOwnProcess, c.expected->isOwnProcess);
            EXPECT_FALSE(found->appId.isEmpty());
        }
    }
}

TEST(SwayWindowTracker, WithoutASocketThereIsNone) {
    const QByteArray saved = qgetenv("SWAYSOCK");
    qunsetenv("SWAYSOCK");
    EXPECT_EQ(SwayWindowTracker::connect(QString()), nullptr);
    qputenv("SWAYSOCK", saved);
}

// The conversation with a stand-in for sway on a local socket: subscribe and
// ask, follow events, and stop trusting a peer that sends garbage.
TEST(SwayWindowTracker, FollowsEventsAndDropsAPeerThatSendsGarbage) {
    QTemporaryDir dir;
    QLocalServer server;
    ASSERT_TRUE(server.listen(dir.filePath(u"sway.sock"_s)));
    auto tracker = SwayWindowTracker::connect(server.fullServerName());
    ASSERT_TRUE(tracker);
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.hasPendingConnections(); }, 5000));
    QLocalSocket* peer = server.nextPendingConnection();

    // Reads the tracker's requests; their types, in order.
    QByteArray received;
    QList<quint32> requests;
    QObject::connect(peer, &QLocalSocket::readyRead, [&] {
        received += peer->readAll();
        while (received.size() >= 14) {
            quint32 header[2];
            std::memcpy(header, received.constData() + 6, sizeof header);
            if (received.size() < 14 + qsizetype(header[0]))
                break;
            requests << header[1];
            received.remove(0, 14 + header[0]);
        }
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return requests.size() >= 2; }, 5000));
    EXPECT_EQ(requests, (QList<quint32>{2, 4})); // subscribe, get_tree

    const auto answerTree = [&](int focus) {
        peer->write(frame(4, QJsonDocument(tree(focus)).toJson(QJsonDocument::Compact)));
    };
    answerTree(7);
    ASSERT_TRUE(QTest::qWaitFor([&] { return tracker->frontmost().has_value(); }, 5000));
    EXPECT_EQ(tracker->frontmost()->window, 7u);

    // A focus event makes it ask again; the answer, sent in two pieces, moves
    // the front to the other window.
    requests.clear();
    peer->write(frame(0x80000003u, R"({"change":"focus"})"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return requests == QList<quint32>{4}; }, 5000));
    const QByteArray answer = frame(4, QJsonDocument(tree(9)).toJson(QJsonDocument::Compact));
    peer->write(answer.left(20));
    peer->flush();
    QTest::qWait(50);
    peer->write(answer.mid(20));
    ASSERT_TRUE(QTest::qWaitFor([&] { return tracker->frontmost()->window == 9u; }, 5000));

    // A header claiming a huge payload is not waited for: the connection is
    // dropped and the front becomes unknown rather than stale.
    peer->write(QByteArray("i3-ipc") + QByteArray("\xff\xff\xff\x7f\x04\x00\x00\x00", 8));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !tracker->frontmost().has_value(); }, 5000));
}
