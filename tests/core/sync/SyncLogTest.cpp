#include "core/sync/SyncLog.h"
#include "support/SyncLogCapture.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

using namespace Qt::StringLiterals;

namespace {
class SyncLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath(u"state/Tindrel/sync.log"_s);
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
        static const QRegularExpression stamp(u"^\\d\\d:\\d\\d:\\d\\d\\.\\d{3}  "_s);
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
    SyncLog::write(u"Sync started — ünïcode"_s);
    SyncLog::flush();
    EXPECT_EQ(messages(), QStringList{u"Sync started — ünïcode"_s});
    EXPECT_EQ(QFile::permissions(path) & (QFile::ReadGroup | QFile::ReadOther), 0);
    EXPECT_EQ(QFile::permissions(QFileInfo(path).absolutePath()) &
                  (QFile::ReadGroup | QFile::ReadOther | QFile::ExeOther),
              0);
}

TEST_F(SyncLogTest, CollapsesRunsOfTheSameMessage) {
    const QString a = u"relay closed"_s;
    const QString r = u" (repeated)"_s;
    for (int i = 0; i < 6; ++i)
        SyncLog::write(a);
    SyncLog::write(u"b"_s);
    SyncLog::write(a);
    SyncLog::write(u"Relay closed"_s);
    SyncLog::write(u"Relay closed"_s);
    SyncLog::flush();
    EXPECT_EQ(messages(), (QStringList{a, a + r, a + r, a + r, u"b"_s, a, u"Relay closed"_s,
                                       u"Relay closed"_s + r}));
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
        const QString message = u"ping timeout %1"_s.arg(++round);
        SyncLog::write(message);
        SyncLog::flush();
        const qint64 line = 12 + 2 + message.size() + 1;
        EXPECT_EQ(contents().size(), c.startsOver ? line : c.before + line) << c.before;
        EXPECT_TRUE(contents().endsWith("  " + message.toUtf8() + "\n"));
    }
}

TEST_F(SyncLogTest, SurvivesLostFilesAndFolders) {
    SyncLog::write(u"one"_s);
    SyncLog::flush();
    ASSERT_TRUE(QFile::remove(path));
    SyncLog::write(u"two"_s);
    SyncLog::flush();
    EXPECT_EQ(messages(), QStringList{u"two"_s});

    // With the folder gone the line is lost, quietly.
    ASSERT_TRUE(QDir(QFileInfo(path).absolutePath()).removeRecursively());
    SyncLog::write(u"three"_s);
    SyncLog::flush();
    EXPECT_FALSE(QFile::exists(path));

    // A path that cannot be a file is ignored as well.
    SyncLog::setFilePath(dir.path());
    SyncLog::write(u"four"_s);
    SyncLog::flush();
}

TEST_F(SyncLogTest, OneCallIsOneLineWhateverTheMessageHolds) {
    SyncLog::write(u"from peer\nforged 00:00:00.000  line\r\v\f\u0085\u2028\u2029"_s);
    SyncLog::flush();
    EXPECT_EQ(messages(), QStringList{u"from peer forged 00:00:00.000  line      "_s});
}

TEST_F(SyncLogTest, ConcurrentWritersNeverInterleave) {
    constexpr int threads = 6;
    constexpr int perThread = 400;
    std::vector<std::thread> writers;
    for (int t = 0; t < threads; ++t) {
        writers.emplace_back([t] {
            for (int i = 0; i < perThread; ++i)
                SyncLog::write(u"writer %1 line %2 "_s.arg(t).arg(i) +
                               QString(40, QChar(u'a' + t)));
        });
    }
    for (std::thread& w : writers)
        w.join();
    SyncLog::flush();

    const QStringList lines = messages();
    ASSERT_EQ(lines.size(), threads * perThread);
    int next[threads] = {};
    static const QRegularExpression shape(u"^writer (\\d) line (\\d+) ([a-f])\\3{39}$"_s);
    for (const QString& line : lines) {
        const auto match = shape.match(line);
        ASSERT_TRUE(match.hasMatch()) << line.toStdString();
        const int t = match.captured(1).toInt();
        EXPECT_EQ(match.captured(3), QString(QChar(u'a' + t)));
        // Each writer's lines keep the order it wrote them in.
        EXPECT_EQ(match.captured(2).toInt(), next[t]++);
    }
}

// A program started before the log's first line: its child ran on this
// thread's memory until it exec'd, and the writer thread comes after it. The
// lines must reach the file just the same, and a race detector must still see
// the queue's lock taken (or it reports the queue as raced). Each case runs in
// a process of its own, so here the writer starts only after the program.
TEST(SyncLogAfterAProgram, LinesAllArrive) {
    QProcess program;
    program.start(u"true"_s, {});
    ASSERT_TRUE(program.waitForFinished());
    const SyncLogCapture log;
    for (int i = 0; i < 50; ++i)
        SyncLog::write(u"line %1"_s.arg(i));
    const QStringList lines = log.messages();
    ASSERT_EQ(lines.size(), 50);
    EXPECT_EQ(lines.last(), u"line 49"_s);
}
