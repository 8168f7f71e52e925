#include "X11TestEnv.h"

#include "platform/x11/X11Pasteboard.h"
#include "platform/x11/XcbSelectionReader.h"

#include <QSet>
#include <QTemporaryFile>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

using namespace std::chrono_literals;
using X11TestEnv::textOf;
using X11TestEnv::typesOf;
using X11TestEnv::waitUntil;

namespace {
// xclip in the foreground owns the clipboard until another client takes it.
std::unique_ptr<TestClient> copyWithXclip(const QByteArray& text, QTemporaryFile& file) {
    file.open();
    file.write(text);
    file.flush();
    return TestClient::start(u"xclip"_s,
                             {u"-quiet"_s, u"-selection"_s, u"clipboard"_s, file.fileName()});
}

// Reads and runs the event loop until the reader answers.
XcbSelectionReader::Result readNow(XcbSelectionReader& reader, const QByteArray& target) {
    QObject context;
    std::optional<XcbSelectionReader::Result> answer;
    reader.read("CLIPBOARD", target, &context,
                [&](XcbSelectionReader::Result result) { answer = std::move(result); });
    waitUntil([&] { return answer.has_value(); });
    return answer.value_or(std::unexpected(XcbSelectionReader::Failure::TimedOut));
}
} // namespace

class X11PasteboardTest : public ::testing::Test {
protected:
    // Waits for the next change the pasteboard counts.
    bool waitForChange(qint64 before) {
        return waitUntil([&] { return board.changeCount() > before; });
    }

    X11Pasteboard board{std::make_unique<XcbSelectionReader>()};
};

TEST_F(X11PasteboardTest, CountsEveryChangeOnceAndAnswersOwnWritesFromMemory) {
    const qint64 start = board.changeCount();
    QTemporaryFile file;
    auto xclip = copyWithXclip("from xclip", file);
    ASSERT_TRUE(waitForChange(start));
    EXPECT_EQ(board.changeCount(), start + 1);
    EXPECT_EQ(textOf(board), u"from xclip"_s);
    EXPECT_TRUE(typesOf(board).contains(u"UTF8_STRING"_s));

    // Our own write raises the count by exactly one, at once and for good.
    board.writeText(u"ours"_s);
    EXPECT_EQ(board.changeCount(), start + 2);
    X11TestEnv::settle();
    EXPECT_EQ(board.changeCount(), start + 2);
    // Reading our own selection through X would wait for ourselves and time
    // out; the answer comes from memory.
    EXPECT_EQ(textOf(board), u"ours"_s);
    EXPECT_TRUE(typesOf(board).contains(u"text/plain"_s));
    EXPECT_TRUE(waitUntil([&] { return !xclip->isRunning(); })) << "xclip lost the selection";

    // Another client sees what we wrote.
    QProcess reader;
    reader.start(u"xclip"_s, {u"-o"_s, u"-selection"_s, u"clipboard"_s});
    ASSERT_TRUE(waitUntil([&] { return reader.state() == QProcess::NotRunning; }));
    EXPECT_EQ(reader.readAllStandardOutput(), QByteArray("ours"));

    // Older X programs (xterm, Emacs, Java) ask for Latin-1 STRING only; a
    // target named twice makes some of them stop reading the list.
    QProcess targets;
    targets.start(u"xclip"_s, {u"-o"_s, u"-selection"_s, u"clipboard"_s, u"-t"_s, u"TARGETS"_s});
    ASSERT_TRUE(waitUntil([&] { return targets.state() == QProcess::NotRunning; }));
    const QStringList offered =
        QString::fromLatin1(targets.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    for (const QString& wanted : {u"STRING"_s, u"UTF8_STRING"_s, u"TARGETS"_s})
        EXPECT_EQ(offered.count(wanted), 1)
            << wanted.toStdString() << " in " << offered.join(u' ').toStdString();
    EXPECT_EQ(QSet<QString>(offered.cbegin(), offered.cend()).size(), offered.size())
        << offered.join(u' ').toStdString();
}

TEST_F(X11PasteboardTest, DeclaresEveryTargetOfTheOwner) {
    const qint64 start = board.changeCount();
    auto owner = TestClient::helper({u"offer"_s, u"pass word ü"_s, u"--type"_s,
                                     u"x-kde-passwordManagerHint=secret"_s, u"--type"_s,
                                     u"application/x-nspasteboard-concealed-type=1"_s});
    ASSERT_TRUE(owner->isReady());
    ASSERT_TRUE(waitForChange(start));
    const QStringList types = typesOf(board);
    EXPECT_TRUE(types.contains(u"x-kde-passwordManagerHint"_s)) << types.join(u' ').toStdString();
    EXPECT_TRUE(types.contains(u"application/x-nspasteboard-concealed-type"_s));
    EXPECT_EQ(textOf(board), u"pass word ü"_s);
}

TEST_F(X11PasteboardTest, TakesTheTextByteForByteWithALeadingByteOrderMark) {
    const QByteArray text = "\xEF\xBB\xBFstarts with U+FEFF";
    QTemporaryFile file;
    const qint64 start = board.changeCount();
    auto xclip = copyWithXclip(text, file);
    ASSERT_TRUE(waitForChange(start));
    EXPECT_EQ(textOf(board).value_or(QString()).toUtf8(), text);
}

TEST_F(X11PasteboardTest, OwnerGoneLeavesNoText) {
    QTemporaryFile file;
    qint64 count = board.changeCount();
    auto xclip = copyWithXclip("short-lived", file);
    ASSERT_TRUE(waitForChange(count));
    count = board.changeCount();
    xclip.reset();
    ASSERT_TRUE(waitForChange(count));
    EXPECT_EQ(textOf(board), std::nullopt);
    EXPECT_TRUE(typesOf(board).isEmpty());
}

TEST_F(X11PasteboardTest, ReadsLargeTextsSentInPieces) {
    QByteArray text(5 * 1024 * 1024, 'a');
    for (qsizetype i = 0; i < text.size(); i += 997)
        text[i] = char('0' + i % 10);
    QTemporaryFile file;
    const qint64 start = board.changeCount();
    auto xclip = copyWithXclip(text, file);
    ASSERT_TRUE(waitForChange(start));
    const std::optional<QString> read = textOf(board);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->toLatin1(), text);
}

TEST_F(X11PasteboardTest, TextOverTheBoundIsNotTakenIn) {
    QTemporaryFile file;
    const qint64 start = board.changeCount();
    auto xclip = copyWithXclip(QByteArray(Pasteboard::maxTextBytes + 1, 'x'), file);
    ASSERT_TRUE(waitForChange(start));
    EXPECT_EQ(textOf(board), std::nullopt);
}

// An owner that refuses one text target is asked for the next; one that
// stalls or sends too much is not asked again, least of all for STRING.
TEST(X11PasteboardText, OnlyARefusalMovesOnToTheNextTarget) {
    const qsizetype bound = 64 * 1024;
    X11Pasteboard board(
        std::make_unique<XcbSelectionReader>(XcbSelectionReader::Limits{bound, 300ms, 600ms}));
    struct Case {
        const char* name;
        QString text;
        QStringList options;
        std::optional<QString> expected;
    };
    const QString words = u"plain words"_s;
    const Case cases[] = {
        {"refuses UTF8_STRING", words, {u"--refuse"_s, u"UTF8_STRING"_s}, words},
        {"stalls on UTF8_STRING", words, {u"--stall"_s, u"UTF8_STRING"_s}, std::nullopt},
        {"too large", QString(bound + 1, u'z'), {}, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryFile log;
        ASSERT_TRUE(log.open());
        const qint64 before = board.changeCount();
        auto owner = TestClient::helper(
            QStringList{u"offer"_s, c.text, u"--log"_s, log.fileName()} + c.options);
        ASSERT_TRUE(owner->isReady());
        ASSERT_TRUE(waitUntil([&] { return board.changeCount() > before; }));
        EXPECT_EQ(textOf(board), c.expected);
        X11TestEnv::settle();
        const QList<QByteArray> asked = log.readAll().split('\n');
        EXPECT_TRUE(asked.contains("UTF8_STRING")) << log.fileName().toStdString();
        if (!c.expected) {
            EXPECT_FALSE(asked.contains("STRING"));
            EXPECT_FALSE(asked.contains("text/plain;charset=utf-8"));
        }
        ASSERT_TRUE(X11TestEnv::endOwner(owner, board));
    }
}

// The reader's own bounds, with small limits so the cases stay quick.
TEST(XcbSelectionReader, StopsAtTheSizeBoundInBothTransferModes) {
    X11Pasteboard board(std::make_unique<XcbSelectionReader>());
    struct Case {
        qsizetype size;
        bool fits;
    };
    // 64 KiB goes in one property; 2 MiB comes in pieces (INCR).
    const qsizetype bound = 64 * 1024;
    const Case cases[] = {{bound, true}, {bound + 1, false}, {2 * 1024 * 1024, false}};
    XcbSelectionReader reader(XcbSelectionReader::Limits{bound, 1000ms, 3000ms});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        QTemporaryFile file;
        const qint64 before = board.changeCount();
        auto xclip = copyWithXclip(QByteArray(c.size, 'y'), file);
        ASSERT_TRUE(waitUntil([&] { return board.changeCount() > before; }));
        const auto data = readNow(reader, "UTF8_STRING");
        EXPECT_EQ(data.has_value(), c.fits);
        if (data) {
            EXPECT_EQ(data->size(), c.size);
        } else {
            EXPECT_EQ(data.error(), XcbSelectionReader::Failure::TooLarge);
        }
        ASSERT_TRUE(X11TestEnv::endOwner(xclip, board));
    }
}

TEST(XcbSelectionReader, GivesUpOnAnOwnerThatDoesNotAnswerAndRecovers) {
    X11Pasteboard board(std::make_unique<XcbSelectionReader>());
    XcbSelectionReader reader(XcbSelectionReader::Limits{1024, 300ms, 600ms});
    qint64 before = board.changeCount();
    auto stalled = TestClient::helper({u"offer"_s, u"never sent"_s, u"--hang"_s});
    ASSERT_TRUE(stalled->isReady());
    ASSERT_TRUE(waitUntil([&] { return board.changeCount() > before; }));
    const auto stalledTargets = readNow(reader, "TARGETS");
    ASSERT_FALSE(stalledTargets.has_value());
    EXPECT_EQ(stalledTargets.error(), XcbSelectionReader::Failure::TimedOut);
    const auto stalledRead = readNow(reader, "UTF8_STRING");
    ASSERT_FALSE(stalledRead.has_value());
    EXPECT_EQ(stalledRead.error(), XcbSelectionReader::Failure::TimedOut);

    // The next owner is read normally, undisturbed by the one given up on.
    QTemporaryFile file;
    before = board.changeCount();
    auto xclip = copyWithXclip("after the stall", file);
    ASSERT_TRUE(waitUntil([&] { return board.changeCount() > before; }));
    EXPECT_EQ(readNow(reader, "UTF8_STRING").value_or(QByteArray()), QByteArray("after the stall"));
}

// Reads are answered later, never inside the call, one after the other, and
// not at all to an asker that has gone meanwhile.
TEST(XcbSelectionReader, AnswersLaterInTurnAndNeverToAGoneAsker) {
    X11Pasteboard board(std::make_unique<XcbSelectionReader>());
    XcbSelectionReader reader(XcbSelectionReader::Limits{1024, 200ms, 400ms});
    const qint64 before = board.changeCount();
    auto stalled = TestClient::helper({u"offer"_s, u"never sent"_s, u"--hang"_s});
    ASSERT_TRUE(stalled->isReady());
    ASSERT_TRUE(waitUntil([&] { return board.changeCount() > before; }));

    QObject asker;
    auto gone = std::make_unique<QObject>();
    QStringList answered;
    reader.read("CLIPBOARD", "TARGETS", &asker,
                [&](XcbSelectionReader::Result) { answered.append(u"first"_s); });
    reader.read("CLIPBOARD", "UTF8_STRING", gone.get(),
                [&](XcbSelectionReader::Result) { answered.append(u"gone"_s); });
    reader.read("CLIPBOARD", "STRING", &asker,
                [&](XcbSelectionReader::Result) { answered.append(u"last"_s); });
    EXPECT_TRUE(answered.isEmpty());
    EXPECT_TRUE(reader.isBusy());
    gone.reset();
    EXPECT_TRUE(waitUntil([&] { return !reader.isBusy(); }));
    EXPECT_EQ(answered, (QStringList{u"first"_s, u"last"_s}));
}
