#include "core/sync/SyncLog.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {
class SyncLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath(QStringLiteral("state/Tindrel/sync.log"));
        SyncLog::setFilePath(path);
        SyncLog::flush();
    }
    void TearDown() override {
        SyncLog::setFilePath(QString());
        SyncLog::flush();
    }

    QByteArray contents() const {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    // The messages of all lines, time stamps checked and stripped.
    QStringList messages() const {
        static const QRegularExpression stamp(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3}  "));
        const QString text = QString::fromUtf8(contents());
        if (!text.isEmpty() && !text.endsWith(u'\n'))
            ADD_FAILURE() << "last line unterminated";
        QStringList out;
        for (const QString& line : text.split(u'\n', Qt::SkipEmptyParts)) {
            const auto match = stamp.match(line);
            if (!match.hasMatch()) {
                ADD_FAILURE() << "bad line: " << line.toStdString();
                continue;
            }
            out.append(line.mid(match.capturedLength()));
        }
        return out;
    }
    void fill(qint64 bytes) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(QByteArray(bytes, 'x'));
    }

    QTemporaryDir dir;
    QString path;
};
} // namespace

TEST_F(SyncLogTest, StampsEachLineAndCreatesItsFolderPrivately) {
    SyncLog::write(QStringLiteral("Sync started — ünïcode"));
    SyncLog::flush();
    EXPECT_EQ(messages(), QStringList{QStringLiteral("Sync started — ünïcode")});
    EXPECT_EQ(QFile::permissions(path) & (QFile::ReadGroup | QFile::ReadOther), 0);
    EXPECT_EQ(QFile::permissions(QFileInfo(path).absolutePath()) &
                  (QFile::ReadGroup | QFile::ReadOther | QFile::ExeOther),
              0);
}

TEST_F(SyncLogTest, CollapsesRunsOfTheSameMessage) {
    const QString a = QStringLiteral("relay closed");
    const QString r = QStringLiteral(" (repeated)");
    for (int i = 0; i < 6; ++i)
        SyncLog::write(a);
    SyncLog::write(QStringLiteral("b"));
    SyncLog::write(a);
    SyncLog::write(QStringLiteral("Relay closed"));
    SyncLog::write(QStringLiteral("Relay closed"));
    SyncLog::flush();
    EXPECT_EQ(messages(),
              (QStringList{a, a + r, a + r, a + r, QStringLiteral("b"), a,
                           QStringLiteral("Relay closed"), QStringLiteral("Relay closed") + r}));
}

TEST_F(SyncLogTest, StartsOverOnlyOncePastTheLimit) {
    struct Case {
        qint64 before;
        bool startsOver;
    };
    const Case cases[] = {{524288, false}, {524289, true}, {2000000, true}};
    int round = 0;
    for (const Case& c : cases) {
        fill(c.before);
        // A different message each round, so none is taken for a repeat.
        const QString message = QStringLiteral("ping timeout %1").arg(++round);
        SyncLog::write(message);
        SyncLog::flush();
        const qint64 line = 12 + 2 + message.size() + 1;
        EXPECT_EQ(contents().size(), c.startsOver ? line : c.before + line) << c.before;
        EXPECT_TRUE(contents().endsWith("  " + message.toUtf8() + "\n"));
    }
}

TEST_F(SyncLogTest, SurvivesLostFilesAndFolders) {
    SyncLog::write(QStringLiteral("one"));
    SyncLog::flush();
    ASSERT_TRUE(QFile::remove(path));
    SyncLog::write(QStringLiteral("two"));
    SyncLog::flush();
    EXPECT_EQ(messages(), QStringList{QStringLiteral("two")});

    // With the folder gone the line is lost, quietly.
    ASSERT_TRUE(QDir(QFileInfo(path).absolutePath()).removeRecursively());
    SyncLog::write(QStringLiteral("three"));
    SyncLog::flush();
    EXPECT_FALSE(QFile::exists(path));

    // A path that cannot be a file is ignored as well.
    SyncLog::setFilePath(dir.path());
    SyncLog::write(QStringLiteral("four"));
    SyncLog::flush();
}

TEST_F(SyncLogTest, OneCallIsOneLineWhateverTheMessageHolds) {
    SyncLog::write(QStringLiteral("from peer\nforged 00:00:00.000  line\r\v\f\u0085\u2028\u2029"));
    SyncLog::flush();
    EXPECT_EQ(messages(), QStringList{QStringLiteral("from peer forged 00:00:00.000  line      ")});
}

TEST_F(SyncLogTest, ConcurrentWritersNeverInterleave) {
    constexpr int threads = 6;
    constexpr int perThread = 400;
    std::vector<std::thread> writers;
    for (int t = 0; t < threads; ++t) {
        writers.emplace_back([t] {
            for (int i = 0; i < perThread; ++i)
                SyncLog::write(QStringLiteral("writer %1 line %2 ").arg(t).arg(i) +
                               QString(40, QChar(u'a' + t)));
        });
    }
    for (std::thread& w : writers)
        w.join();
    SyncLog::flush();

    const QStringList lines = messages();
    ASSERT_EQ(lines.size(), threads * perThread);
    int next[threads] = {};
    static const QRegularExpression shape(
        QStringLiteral("^writer (\\d) line (\\d+) ([a-f])\\3{39}$"));
    for (const QString& line : lines) {
        const auto match = shape.match(line);
        ASSERT_TRUE(match.hasMatch()) << line.toStdString();
        const int t = match.captured(1).toInt();
        EXPECT_EQ(match.captured(3), QString(QChar(u'a' + t)));
        // Each writer's lines keep the order it wrote them in.
        EXPECT_EQ(match.captured(2).toInt(), next[t]++);
    }
}
