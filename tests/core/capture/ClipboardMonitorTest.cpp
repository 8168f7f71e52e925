#include "core/capture/ClipboardMonitor.h"
#include "core/prefs/Preferences.h"
#include "support/FakePasteboard.h"
#include "support/FakeWorkspace.h"
#include "support/MemorySettingsStore.h"
#include "support/QtPrinters.h"

#include <QEventLoop>
#include <gtest/gtest.h>
#include <limits>

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

namespace {
struct Capture {
    QString text;
    std::optional<QString> source;
    bool operator==(const Capture&) const = default;
};

void PrintTo(const Capture& c, std::ostream* out) {
    *out << '{' << c.text.toStdString() << ", " << c.source.value_or(u"<none>"_s).toStdString()
         << '}';
}
} // namespace

class ClipboardMonitorTest : public ::testing::Test {
protected:
    ClipboardMonitorTest() {
        QObject::connect(&monitor, &ClipboardMonitor::copied,
                         [this](const QString& text, const std::optional<QString>& source) {
                             captures.append({text, source});
                         });
        workspace.front = FakeWorkspace::app(u"org.example.Editor"_s);
    }

    MemorySettingsStore settings;
    Preferences prefs{settings};
    FakePasteboard board = [] {
        FakePasteboard b;
        b.copy(u"there before the start"_s);
        return b;
    }();
    FakeWorkspace workspace;
    ClipboardMonitor monitor{prefs, board, workspace};
    QList<Capture> captures;
};

TEST_F(ClipboardMonitorTest, AppliesTheTypeAndApplicationFilters) {
    const QString editor = u"org.example.Editor"_s;
    struct Case {
        const char* name;
        QStringList types;
        std::optional<QString> frontApp; // none: no window in front
        std::function<void(Preferences&)> tweak;
        std::optional<Capture> expected;
    };
    const QString text = u"  copied text \n"_s; // handed on as read
    auto both = [](Preferences&) {};
    QList<Case> cases = {
        {"plain text", {u"UTF8_STRING"_s}, editor, both, Capture{text, editor}},
        {"no window in front", {u"UTF8_STRING"_s}, std::nullopt, both, Capture{text, {}}},
        {"window without identifier", {u"UTF8_STRING"_s}, u""_s, both, Capture{text, {}}},
        {"ignored application",
         {u"UTF8_STRING"_s},
         editor,
         [&](Preferences& p) {
             p.setIgnoredApps({u"other"_s, editor});
         },
         std::nullopt},
        {"ignored is exact, not a prefix",
         {u"UTF8_STRING"_s},
         editor,
         [](Preferences& p) { p.setIgnoredApps({u"org.example"_s}); },
         Capture{text, editor}},
        {"concealed marker kept off",
         {u"UTF8_STRING"_s, u"org.nspasteboard.TransientType"_s},
         editor,
         [](Preferences& p) { p.setSkipConcealedTypes(false); },
         Capture{text, editor}},
        {"password marker kept off",
         {u"UTF8_STRING"_s, u"x-kde-passwordManagerHint"_s},
         editor,
         [](Preferences& p) { p.setSkipPasswordManagers(false); },
         Capture{text, editor}},
    };
    for (const QString& marker : ClipboardMonitor::concealedTypes)
        cases.append({"concealed marker", {u"UTF8_STRING"_s, marker}, editor, both, std::nullopt});
    // Matched against the declared types, whichever application is in front.
    for (const QString& marker : ClipboardMonitor::passwordManagerTypes)
        cases.append({"password marker", {marker, u"UTF8_STRING"_s}, editor, both, std::nullopt});

    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + c.types.join(u' ').toStdString());
        MemorySettingsStore store;
        Preferences casePrefs(store);
        c.tweak(casePrefs);
        FakePasteboard caseBoard;
        FakeWorkspace caseWorkspace;
        if (c.frontApp)
            caseWorkspace.front = FakeWorkspace::app(*c.frontApp);
        ClipboardMonitor caseMonitor(casePrefs, caseBoard, caseWorkspace);
        std::optional<Capture> got;
        QObject::connect(&caseMonitor, &ClipboardMonitor::copied,
                         [&](const QString& t, const std::optional<QString>& s) {
                             got = Capture{t, s};
                         });
        caseBoard.copy(text, c.types);
        caseMonitor.poll();
        EXPECT_EQ(got, c.expected);
        // A filtered copy's text is never even read: it may be a password.
        EXPECT_EQ(caseBoard.textReads, c.expected ? 1 : 0);
    }
}

TEST_F(ClipboardMonitorTest, CopiesWithoutTextOrOverTheBoundAreNotRecorded) {
    board.copy(std::nullopt, {u"image/png"_s}); // an image only
    monitor.poll();
    board.copy(QString(Pasteboard::maxTextBytes / 2 + 1, u'é')); // two UTF-8 bytes each
    monitor.poll();
    EXPECT_TRUE(captures.isEmpty());
    board.copy(QString(Pasteboard::maxTextBytes / 2, u'é'));
    monitor.poll();
    EXPECT_EQ(captures.size(), 1);
}

TEST_F(ClipboardMonitorTest, SeesOnlyChangesAfterItsStartAndTheLatestOfSeveral) {
    monitor.poll();
    EXPECT_TRUE(captures.isEmpty()) << "the clipboard's content at start is not a copy";
    // A tick without a change reads nothing but the counter.
    EXPECT_EQ(board.typeReads + board.textReads + workspace.frontQueries, 0);

    board.copy(u"first"_s);
    board.copy(u"second"_s);
    monitor.poll();
    monitor.poll();
    EXPECT_EQ(captures, (QList<Capture>{{u"second"_s, u"org.example.Editor"_s}}));
}

TEST_F(ClipboardMonitorTest, APausedCopyIsConsumedForGood) {
    int notified = 0;
    QObject::connect(&monitor, &ClipboardMonitor::isPausedChanged, [&] { ++notified; });
    monitor.setPaused(true);
    board.copy(u"while paused"_s);
    monitor.poll();
    // Nothing about a paused copy is looked at, its text least of all.
    EXPECT_EQ(board.typeReads + board.textReads + workspace.frontQueries, 0);
    monitor.setPaused(false);
    monitor.poll();
    EXPECT_TRUE(captures.isEmpty());
    monitor.setPaused(false); // every assignment notifies, also of the same value
    EXPECT_EQ(notified, 3);

    board.copy(u"after resuming"_s);
    monitor.poll();
    EXPECT_EQ(captures.size(), 1);
}

TEST_F(ClipboardMonitorTest, OwnWritesAreNotRecordedButTheNextCopyIs) {
    monitor.writeOwnText(u"from the panel"_s);
    EXPECT_EQ(board.contents, u"from the panel"_s);
    monitor.poll();
    EXPECT_TRUE(captures.isEmpty());

    // The same path the shell takes by hand: raise, then write.
    monitor.setLastChangeCount(board.changeCount() + 1);
    board.writeText(u"from a peer"_s);
    monitor.poll();
    EXPECT_TRUE(captures.isEmpty());

    board.copy(u"the user's"_s);
    monitor.poll();
    EXPECT_EQ(captures.size(), 1);
}

TEST_F(ClipboardMonitorTest, PollsAtTheIntervalAndFollowsItsChanges) {
    EXPECT_FALSE(monitor.isPolling());
    monitor.start();
    EXPECT_TRUE(monitor.isPolling());
    EXPECT_EQ(monitor.pollPeriod(), 400ms);

    // Assigning the setting replaces the timer at once.
    prefs.setPollInterval(1.5);
    EXPECT_TRUE(monitor.isPolling());
    EXPECT_EQ(monitor.pollPeriod(), 1500ms);

    monitor.start(0.7);
    EXPECT_EQ(monitor.pollPeriod(), 700ms);
    // A period that would spin is raised to the smallest the settings allow.
    for (double broken : {0.0, -1.0, std::numeric_limits<double>::quiet_NaN()}) {
        monitor.start(broken);
        EXPECT_EQ(monitor.pollPeriod(), 100ms);
    }
    // One beyond their range is lowered to the largest, also where its
    // milliseconds would not fit the timer's int.
    for (double huge : {2.5, 1e7, 1e300, std::numeric_limits<double>::infinity()}) {
        SCOPED_TRACE(huge);
        monitor.start(huge);
        EXPECT_EQ(monitor.pollPeriod(), 2000ms);
    }
}

// Where every change is reported, a tick could only find what a report
// brought: no timer runs, whatever the setting says, and the reports alone
// record copies and skip our own writes. Elsewhere the setting's period polls.
TEST_F(ClipboardMonitorTest, PollsOnlyWhereTheClipboardDoesNotReportEveryChange) {
    for (const bool reportsAll : {true, false}) {
        SCOPED_TRACE(reportsAll ? "reports every change" : "may miss a report");
        MemorySettingsStore store;
        Preferences casePrefs(store);
        FakePasteboard caseBoard;
        caseBoard.reportsAll = reportsAll;
        ClipboardMonitor caseMonitor(casePrefs, caseBoard, workspace);
        QStringList got;
        QObject::connect(&caseMonitor, &ClipboardMonitor::copied,
                         [&](const QString& text) { got.append(text); });

        caseMonitor.start();
        EXPECT_EQ(caseMonitor.isPolling(), !reportsAll);
        casePrefs.setPollInterval(1.2);
        EXPECT_EQ(caseMonitor.isPolling(), !reportsAll);
        EXPECT_EQ(caseMonitor.pollPeriod(), 1200ms) << "kept for when polling is needed";

        caseMonitor.writeOwnText(u"ours"_s);
        caseBoard.announce();
        caseBoard.copy(u"the user's"_s);
        caseBoard.announce();
        EXPECT_EQ(got, QStringList{u"the user's"_s});

        // Asked for a period, it polls at it in any case.
        caseMonitor.start(0.3);
        EXPECT_TRUE(caseMonitor.isPolling());
        EXPECT_EQ(caseMonitor.pollPeriod(), 300ms);
    }
}

TEST_F(ClipboardMonitorTest, TheTimerPolls) {
    monitor.start(0.1);
    board.copy(u"picked up by the timer"_s);
    QEventLoop loop;
    QObject::connect(&monitor, &ClipboardMonitor::copied, &loop, &QEventLoop::quit);
    QTimer::singleShot(5000, &loop, &QEventLoop::quit); // bound for a broken timer
    loop.exec();
    EXPECT_EQ(monitor.lastChangeCount(), board.changeCount());
}

TEST_F(ClipboardMonitorTest, ALookStartsAtTheChangeReport) {
    board.copy(u"reported"_s);
    board.announce();
    EXPECT_EQ(captures, (QList<Capture>{{u"reported"_s, u"org.example.Editor"_s}}));
    // The timer's next tick finds nothing new.
    monitor.poll();
    EXPECT_EQ(captures.size(), 1);
    EXPECT_EQ(board.typeReads, 1);
}

// The owner answers when it likes; meanwhile ticks and reports keep coming.
TEST_F(ClipboardMonitorTest, OneReadAtATimeAndOnlyForTheChangeItWasAskedFor) {
    board.answerAtOnce = false;
    board.copy(u"first"_s);
    monitor.poll();
    EXPECT_TRUE(monitor.isReading());
    monitor.poll();
    board.announce();
    EXPECT_EQ(board.typeReads, 1) << "no second read of the same change";
    ASSERT_TRUE(board.answer());
    EXPECT_EQ(board.textReads, 1);

    // Copied again before the text came: the text that arrives belongs to
    // the new copy, which has not been through the filters.
    board.copy(u"second"_s, {u"UTF8_STRING"_s, u"x-kde-passwordManagerHint"_s});
    board.announce();
    ASSERT_TRUE(board.answer());
    EXPECT_TRUE(captures.isEmpty()) << "a text is only taken for the types it was filtered by";
    // The new change was looked at as soon as the read ended, and filtered.
    EXPECT_EQ(board.typeReads, 2);
    ASSERT_TRUE(board.answer());
    EXPECT_FALSE(monitor.isReading());
    EXPECT_EQ(board.textReads, 1);

    board.copy(u"third"_s);
    monitor.poll();
    while (board.answer()) {
    }
    EXPECT_EQ(captures, (QList<Capture>{{u"third"_s, u"org.example.Editor"_s}}));
}

TEST_F(ClipboardMonitorTest, AnAnswerAfterOurOwnWriteOrAfterTheMonitorIsGoneIsDropped) {
    board.answerAtOnce = false;
    board.copy(u"the user's"_s);
    monitor.poll();
    monitor.writeOwnText(u"chosen in the panel"_s);
    while (board.answer()) {
    }
    monitor.poll();
    EXPECT_TRUE(captures.isEmpty());
    EXPECT_FALSE(monitor.isReading());

    auto gone = std::make_unique<ClipboardMonitor>(prefs, board, workspace);
    bool called = false;
    QObject::connect(gone.get(), &ClipboardMonitor::copied, [&] { called = true; });
    board.copy(u"late"_s);
    gone->poll();
    gone.reset();
    EXPECT_TRUE(board.answer());
    EXPECT_FALSE(called);
}
