#include "platform/xdg/SingleInstance.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

TEST(SingleInstance, OnlyOneHoldsTheStore) {
    QTemporaryDir dir;
    const QString lock = SingleInstance::lockPathFor(dir.filePath(u"data/Tindrel/store.json"_s));
    SingleInstance first(lock);
    ASSERT_EQ(first.claim(), SingleInstance::Claim::Won);
    // Private: it names this process and machine.
    EXPECT_EQ(QFileInfo(lock).permissions() &
                  ~(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser),
              0);
    SingleInstance second(lock);
    EXPECT_EQ(second.claim(), SingleInstance::Claim::HeldByAnother);
}

TEST(SingleInstance, ALockLeftByADeadProcessIsTakenOver) {
    QTemporaryDir dir;
    const QString lock = dir.filePath(u"store.json.lock"_s);
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
    }
    SingleInstance next(lock);
    EXPECT_EQ(next.claim(), SingleInstance::Claim::Won);
    SingleInstance other(lock);
    EXPECT_EQ(other.claim(), SingleInstance::Claim::HeldByAnother);
}

// A read-only or full disk is not another instance: the caller is told why
// and may run anyway.
TEST(SingleInstance, ALockThatCannotBeCreatedIsNotAnotherInstance) {
    QTemporaryDir dir;
    // A file where the lock's folder should be: no lock, whoever runs this.
    QFile blocker(dir.filePath(u"data"_s));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    SingleInstance first(dir.filePath(u"data/Tindrel/store.json.lock"_s));
    ASSERT_EQ(first.claim(), SingleInstance::Claim::Unavailable);
    EXPECT_TRUE(first.problem().contains(dir.filePath(u"data"_s))) << first.problem().toStdString();
}
