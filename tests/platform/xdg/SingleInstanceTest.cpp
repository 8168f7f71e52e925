#include "platform/xdg/SingleInstance.h"

#include <QFile>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

TEST(SingleInstance, OnlyOneHoldsTheStore) {
    QTemporaryDir dir;
    const QString lock = SingleInstance::lockPathFor(dir.filePath(u"data/Tindrel/store.json"_s));
    SingleInstance first(lock);
    ASSERT_TRUE(first.claim());
    SingleInstance second(lock);
    EXPECT_FALSE(second.claim());
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
    EXPECT_TRUE(next.claim());
    SingleInstance other(lock);
    EXPECT_FALSE(other.claim());
}
