#include "platform/xdg/FreedesktopFileManager.h"
#include "support/PrivateBusConfig.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {
// A file manager on the bus: answers ShowItems and keeps what it was shown.
class FakeFileManagerService final : public QDBusVirtualObject {
public:
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& bus) override {
        if (message.member() != u"ShowItems"_s)
            return false;
        shown << message.arguments().value(0).toStringList();
        bus.send(message.createReply());
        return true;
    }
    QStringList shown;
};

// A private session bus of our own, so the test touches no one else's.
class PrivateBus {
public:
    PrivateBus() {
        m_daemon.start(u"dbus-daemon"_s, {u"--config-file="_s + privateBusConfig(), u"--nofork"_s,
                                          u"--print-address=1"_s});
        if (!m_daemon.waitForStarted() || !m_daemon.waitForReadyRead(5000))
            return;
        address = QString::fromUtf8(m_daemon.readLine().trimmed());
    }
    ~PrivateBus() {
        m_daemon.terminate();
        m_daemon.waitForFinished();
    }
    QString address;

private:
    QProcess m_daemon;
};

struct Started {
    QString program;
    QStringList arguments;
};
} // namespace

TEST(FreedesktopFileManager, AsksTheFileManagerOnTheBusToShowTheFile) {
    PrivateBus bus;
    ASSERT_FALSE(bus.address.isEmpty()) << "dbus-daemon did not start";
    QDBusConnection service = QDBusConnection::connectToBus(bus.address, u"service"_s);
    QDBusConnection client = QDBusConnection::connectToBus(bus.address, u"client"_s);
    ASSERT_TRUE(service.isConnected() && client.isConnected());
    FakeFileManagerService fileManager;
    ASSERT_TRUE(service.registerVirtualObject(u"/org/freedesktop/FileManager1"_s, &fileManager));
    ASSERT_TRUE(service.registerService(u"org.freedesktop.FileManager1"_s));

    FreedesktopFileManager files(client);
    QList<Started> started;
    files.startDetached = [&](const QString& program, const QStringList& arguments) {
        started.append({program, arguments});
    };
    files.reveal(u"/home/u/.local/share/Tindrel/store.json"_s);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !fileManager.shown.isEmpty(); }, 5000));
    EXPECT_EQ(fileManager.shown, QStringList{u"file:///home/u/.local/share/Tindrel/store.json"_s});
    // A later call on the same connection: once its answer is handled, so is
    // the file manager's.
    bool markerBack = false;
    QDBusPendingCallWatcher marker(client.asyncCall(QDBusMessage::createMethodCall(
        u"org.freedesktop.FileManager1"_s, u"/"_s, u"org.freedesktop.DBus.Peer"_s, u"Ping"_s)));
    QObject::connect(&marker, &QDBusPendingCallWatcher::finished, &marker,
                     [&markerBack] { markerBack = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return markerBack; }, 5000));
    EXPECT_TRUE(started.isEmpty()) << "fell back although the file manager answered";

    // Without a file manager on the bus, the folder opens with xdg-open.
    service.unregisterService(u"org.freedesktop.FileManager1"_s);
    files.reveal(u"/home/u/.local/share/Tindrel/store.json"_s);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !started.isEmpty(); }, 5000));
    ASSERT_EQ(started.size(), 1);
    EXPECT_EQ(started.front().program, u"xdg-open"_s);
    EXPECT_EQ(started.front().arguments, QStringList{u"/home/u/.local/share/Tindrel"_s});
    EXPECT_EQ(fileManager.shown.size(), 1);

    QDBusConnection::disconnectFromBus(u"client"_s);
    QDBusConnection::disconnectFromBus(u"service"_s);
}

TEST(FreedesktopFileManager, OpensTheFolderWhenThereIsNoBus) {
    FreedesktopFileManager files(QDBusConnection(u"never connected"_s));
    QList<Started> started;
    files.startDetached = [&](const QString& program, const QStringList& arguments) {
        started.append({program, arguments});
    };
    files.reveal(u"/tmp/x/store.json"_s);
    ASSERT_EQ(started.size(), 1);
    EXPECT_EQ(started.front().arguments, QStringList{u"/tmp/x"_s});
}
