#include "platform/xdg/SingleInstance.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

using namespace Qt::StringLiterals;

TEST(SingleInstance, ASecondStartHandsItsRequestToTheFirst) {
    QTemporaryDir dir;
    const QString store = dir.filePath(u"data/Tindrel/store.json"_s);
    const QString socket = dir.filePath(u"t.sock"_s);
    SingleInstance first(SingleInstance::lockPathFor(store), socket);
    QList<QByteArray> received;
    first.onMessage = [&](const QByteArray& message) { received << message; };
    ASSERT_EQ(first.claim(), SingleInstance::Claim::Won);
    // Private: it names this process and machine.
    EXPECT_EQ(QFileInfo(SingleInstance::lockPathFor(store)).permissions() &
                  ~(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser),
              0);

    SingleInstance second(SingleInstance::lockPathFor(store), socket);
    EXPECT_EQ(second.claim(), SingleInstance::Claim::HeldByAnother);
    // The sender blocks, as a starting process may; the first instance
    // answers from its event loop meanwhile.
    std::atomic<bool> sent = false;
    std::thread sender([&] {
        SingleInstance again(SingleInstance::lockPathFor(store), socket);
        sent = again.sendToRunning("show");
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return !received.isEmpty(); }, 5000));
    sender.join();
    EXPECT_EQ(received, QList<QByteArray>{"show"});
    EXPECT_TRUE(sent);
}

TEST(SingleInstance, ALockLeftByADeadProcessIsTakenOver) {
    QTemporaryDir dir;
    const QString lock = dir.filePath(u"store.json.lock"_s);
    const QString socket = dir.filePath(u"t.sock"_s);
    {
        // A lock file naming a process that has already ended.
        QProcess gone;
        gone.start(u"true"_s);
        ASSERT_TRUE(gone.waitForStarted());
        const qint64 pid = gone.processId();
        ASSERT_TRUE(gone.waitForFinished());
        QFile file(lock);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray::number(pid) + "\ntrue\n" + QSysInfo::machineHostName().toUtf8() +
                   '\n' + QSysInfo::machineUniqueId() + '\n' + QSysInfo::bootUniqueId() + '\n');
        // a stale socket file from the same run
        QFile stale(socket);
        ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    }
    SingleInstance next(lock, socket);
    EXPECT_EQ(next.claim(), SingleInstance::Claim::Won);
    SingleInstance other(lock, socket);
    EXPECT_EQ(other.claim(), SingleInstance::Claim::HeldByAnother);
}

// A read-only or full disk is not another instance: the caller runs anyway
// and can still be reached by later starts.
TEST(SingleInstance, ALockThatCannotBeCreatedIsNotAnotherInstance) {
    QTemporaryDir dir;
    // A file where the lock's folder should be: no lock, whoever runs this.
    QFile blocker(dir.filePath(u"data"_s));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const QString lock = dir.filePath(u"data/Tindrel/store.json.lock"_s);
    const QString socket = dir.filePath(u"t.sock"_s);
    SingleInstance first(lock, socket);
    ASSERT_EQ(first.claim(), SingleInstance::Claim::Unavailable);
    EXPECT_TRUE(first.problem().contains(dir.filePath(u"data"_s))) << first.problem().toStdString();
    EXPECT_FALSE(first.sendToRunning("show", 200)) << "nobody listens yet";

    QList<QByteArray> received;
    first.onMessage = [&](const QByteArray& message) { received << message; };
    first.listen();
    std::thread sender([&] { SingleInstance(lock, socket).sendToRunning("show"); });
    EXPECT_TRUE(QTest::qWaitFor([&] { return !received.isEmpty(); }, 5000));
    sender.join();
}

TEST(SingleInstance, NobodyAnswersWhenNoInstanceRuns) {
    QTemporaryDir dir;
    SingleInstance lone(dir.filePath(u"l.lock"_s), dir.filePath(u"none.sock"_s));
    EXPECT_FALSE(lone.sendToRunning("show", 200));
}

TEST(SingleInstance, SocketPathsAreShortAndDifferPerStore) {
    const QString a = SingleInstance::socketPathFor(u"/home/u/.local/share/Tindrel/store.json"_s);
    const QString b = SingleInstance::socketPathFor(u"/tmp/other/Tindrel/store.json"_s);
    EXPECT_NE(a, b);
    EXPECT_LT(a.toUtf8().size(), 108);
}
