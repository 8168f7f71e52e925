#include "core/panel/AppState.h"
#include "core/prefs/Preferences.h"
#include "core/store/ClipStore.h"
#include "support/FakeClock.h"
#include "support/FakeWorkspace.h"
#include "support/FillStore.h"
#include "support/ManualScheduler.h"
#include "support/MemorySettingsStore.h"
#include "support/QtPrinters.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <thread>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {
// A store with pins and history on a fake clock, and an AppState whose timer,
// beep and paste-permission query the test drives.
class AppStateTest : public testing::Test {
protected:
    AppStateTest() { prefs.setConfirmClear(false); }

    void makeState() { state = std::make_unique<AppState>(store, prefs, workspace, scheduler); }

    void fill(const QStringList& pins, const QStringList& history) {
        fillStore(store, pins, history);
    }

    static QStringList texts(const QList<Clip>& clips) {
        QStringList out;
        for (const Clip& clip : clips)
            out << clip.text();
        return out;
    }

    MemorySettingsStore settings;
    Preferences prefs{settings};
    FakeClock clock;
    QTemporaryDir dir;
    ClipStore store{prefs, clock, dir.filePath(u"store.json"_s)};
    std::unique_ptr<AppState> state;
    FakeWorkspace workspace;
    ManualScheduler scheduler;
};
} // namespace

TEST_F(AppStateTest, CombinedListIsPinsThenLimitedHistoryAndSelectionClamps) {
    prefs.setDisplayLimit(2);
    fill({u"A"_s, u"B"_s}, {u"C"_s, u"D"_s, u"E"_s});
    makeState();
    EXPECT_EQ(texts(state->combined()), (QStringList{u"A"_s, u"B"_s, u"C"_s, u"D"_s}));

    state->moveSelection(10);
    EXPECT_EQ(state->selection(), 3);
    state->moveSelection(-10);
    EXPECT_EQ(state->selection(), 0);
    state->moveSelection(1);
    EXPECT_EQ(state->selection(), 1);
}

TEST_F(AppStateTest, SearchIgnoresCaseReachesBeyondTheDisplayLimitAndResetsSelection) {
    prefs.setDisplayLimit(5);
    QStringList history;
    for (int i = 0; i < 40; ++i)
        history << u"entry %1 Über"_s.arg(i);
    fill({u"pinned apple pie"_s, u"pinned pear"_s}, history);
    makeState();
    EXPECT_EQ(state->filteredHistory().size(), 5);

    state->setSelection(3);
    int changes = 0;
    QObject::connect(state.get(), &AppState::changed, [&] { ++changes; });
    state->setQuery(u"APPLE"_s);
    EXPECT_EQ(state->selection(), 0);
    EXPECT_GT(changes, 0);
    EXPECT_EQ(texts(state->filteredPinned()), QStringList{u"pinned apple pie"_s});
    EXPECT_TRUE(state->filteredHistory().isEmpty());

    // Every history clip is searched, not only the five shown, and order is kept.
    state->setQuery(u"üBER"_s);
    EXPECT_EQ(state->filteredHistory().size(), 40);
    EXPECT_EQ(state->filteredHistory().front().text(), u"entry 0 Über"_s);
    // Typing on narrows the earlier results; deleting widens them again.
    state->setQuery(u"entry"_s);
    EXPECT_EQ(state->filteredHistory().size(), 40);
    state->setQuery(u"entry 3"_s);
    EXPECT_EQ(
        texts(state->filteredHistory()),
        (QStringList{u"entry 3 Über"_s, u"entry 30 Über"_s, u"entry 31 Über"_s, u"entry 32 Über"_s,
                     u"entry 33 Über"_s, u"entry 34 Über"_s, u"entry 35 Über"_s, u"entry 36 Über"_s,
                     u"entry 37 Über"_s, u"entry 38 Über"_s, u"entry 39 Über"_s}));

    state->setQuery(u"entry"_s);
    EXPECT_EQ(state->filteredHistory().size(), 40);

    // A decomposed ü (u and a combining diaeresis) finds the precomposed one.
    state->setQuery(QString::fromUtf16(u"u\u0308ber"));
    EXPECT_EQ(state->filteredHistory().size(), 40);

    state->setQuery(u"nothing like this"_s);
    EXPECT_TRUE(state->combined().isEmpty());
    state->moveSelection(1); // an empty list leaves the selection alone
    EXPECT_EQ(state->selection(), 0);
}

TEST_F(AppStateTest, ListsFollowStoreChangesAndEditedTexts) {
    fill({}, {u"alpha"_s});
    makeState();
    state->setQuery(u"beta"_s);
    EXPECT_TRUE(state->combined().isEmpty());
    store.record(u"alphabeta"_s);
    EXPECT_EQ(texts(state->combined()), QStringList{u"alphabeta"_s});
    store.deleteClip(store.history().front());
    EXPECT_TRUE(state->combined().isEmpty());

    // Going back to an earlier query after a change searches afresh.
    state->setQuery(u"alp"_s);
    state->setQuery(u"alph"_s);
    store.record(u"alpine"_s);
    state->setQuery(u"alp"_s);
    EXPECT_EQ(texts(state->combined()), (QStringList{u"alpine"_s, u"alpha"_s}));
}

TEST_F(AppStateTest, ActivateSelectionHandsOverTheSelectedClipOnly) {
    fill({u"pin"_s}, {u"one"_s, u"two"_s});
    makeState();
    QStringList activated;
    QObject::connect(state.get(), &AppState::activated,
                     [&](const Clip& clip) { activated << clip.text(); });

    state->activateSelection();
    state->moveSelection(2);
    state->activateSelection();
    state->setSelection(7); // out of range: ignored
    state->activateSelection();
    state->setQuery(u"zzz"_s);
    state->activateSelection(); // empty list
    EXPECT_EQ(activated, (QStringList{u"pin"_s, u"two"_s}));
}

TEST_F(AppStateTest, RefusedPinBeepsAndFlashesUntilTheFirstTimerRuns) {
    prefs.setPinLimit(2);
    fill({u"A"_s, u"B"_s}, {u"C"_s});
    makeState();
    const QList<Clip> pinsBefore = store.pinned();

    state->togglePin(store.history().front());
    EXPECT_EQ(store.pinned(), pinsBefore);
    EXPECT_EQ(texts(store.history()), QStringList{u"C"_s});
    EXPECT_EQ(workspace.beeps, 1);
    EXPECT_TRUE(state->pinLimitFlash());
    EXPECT_EQ(scheduler.delays, QList<std::chrono::milliseconds>{1200ms});

    state->togglePin(store.history().front()); // a second refusal within the flash
    EXPECT_EQ(workspace.beeps, 2);
    ASSERT_EQ(scheduler.pending(), 2);
    scheduler.runNext();
    EXPECT_FALSE(state->pinLimitFlash());
    scheduler.runNext();
    EXPECT_FALSE(state->pinLimitFlash());

    // Unpinning always works and frees room for the next pin.
    state->togglePin(store.pinned().front());
    state->togglePin(store.history().back());
    EXPECT_EQ(texts(store.pinned()), (QStringList{u"C"_s, u"B"_s}));
    EXPECT_EQ(workspace.beeps, 2);
}

TEST_F(AppStateTest, ResetClearsQueryBumpsFocusAndRereadsPastePermission) {
    fill({}, {u"one"_s, u"two"_s});
    makeState();
    state->setQuery(u"o"_s);
    state->setSelection(1);
    workspace.trusted = false;
    const int token = state->focusToken();
    state->reset();
    EXPECT_EQ(state->query(), QString());
    EXPECT_EQ(state->selection(), 0);
    EXPECT_EQ(state->focusToken(), token + 1);
    EXPECT_FALSE(state->canAutoPaste());
}

TEST_F(AppStateTest, ClearingHistoryKeepsPinsAndAsksWhenConfirmationIsOn) {
    struct Case {
        const char* name;
        bool confirm;
        std::optional<bool> answer; // nullopt: nobody to ask
        bool cleared;
        bool closed;
    };
    const Case cases[] = {
        {"no confirmation", false, std::nullopt, true, false},
        {"confirmed", true, true, true, true},
        {"cancelled", true, false, false, true},
        {"no one to ask", true, std::nullopt, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        store.setHistory({});
        store.clearPinned();
        fill({u"kept"_s}, {u"a"_s, u"b"_s});
        makeState();
        prefs.setConfirmClear(c.confirm);
        bool closed = false;
        QString asked;
        QObject::connect(state.get(), &AppState::closeRequested, [&] { closed = true; });
        if (c.answer)
            state->confirmClearHistory = [&](const QString& message, const QString& detail) {
                asked = message + u" "_s + detail;
                return *c.answer;
            };
        state->requestClearHistory();
        EXPECT_EQ(store.history().isEmpty(), c.cleared);
        EXPECT_EQ(texts(store.pinned()), QStringList{u"kept"_s});
        EXPECT_EQ(closed, c.closed);
        if (c.answer) {
            EXPECT_EQ(asked, u"Clear clipboard history? 2 recent clips will be removed. Your 1 "
                             u"pinned clip will be kept."_s);
        }
        if (c.cleared) {
            EXPECT_TRUE(store.isSavePending());
        }
    }
}

TEST(AppStateText, ClearHistoryDetailUsesSingularForExactlyOnePin) {
    EXPECT_EQ(AppState::clearHistoryDetail(12, 3),
              u"12 recent clips will be removed. Your 3 pinned clips will be kept."_s);
    EXPECT_EQ(AppState::clearHistoryDetail(12, 1),
              u"12 recent clips will be removed. Your 1 pinned clip will be kept."_s);
    EXPECT_EQ(AppState::clearHistoryDetail(0, 0),
              u"0 recent clips will be removed. Your 0 pinned clips will be kept."_s);
}

TEST_F(AppStateTest, StoreAndPreferenceChangesAreForwarded) {
    makeState();
    int changes = 0;
    QObject::connect(state.get(), &AppState::changed, [&] { ++changes; });
    store.record(u"new"_s);
    EXPECT_GE(changes, 1);
    const int afterStore = changes;
    prefs.setRowDensity(RowDensity::roomy);
    EXPECT_GT(changes, afterStore);
}

TEST_F(AppStateTest, TextsArePreparedForSearchOffTheMainThreadAheadOfTheFirstKeystroke) {
    fill({u"Pinned Alpha"_s}, {u"beta"_s, u"ALPHA beta"_s});
    makeState();
    std::vector<std::function<void()>> batches;
    state->setBackground([&](std::function<void()> work) { batches.push_back(std::move(work)); });
    auto runBatch = [&](size_t i) {
        std::thread(batches.at(i)).join(); // another thread, as in the program
        QCoreApplication::processEvents(); // its results arrive on this one
    };
    QCoreApplication::processEvents();
    ASSERT_EQ(batches.size(), 1u); // one batch for what the store held
    EXPECT_EQ(state->unpreparedTexts(), 3);

    // Copies while a batch runs ask for one more batch, after it.
    store.record(u"gamma alpha"_s);
    store.record(u"delta"_s);
    QCoreApplication::processEvents();
    EXPECT_EQ(batches.size(), 1u);
    runBatch(0);
    EXPECT_EQ(state->unpreparedTexts(), 2);
    ASSERT_EQ(batches.size(), 2u);

    // A clip given another text while its batch runs does not take the
    // result made from the old one.
    QList<Clip> history = store.history();
    ASSERT_EQ(history.front().text(), u"delta"_s);
    history.front() = Clip(history.front().id(), u"omega"_s, history.front().createdAt());
    store.setHistory(history);
    QCoreApplication::processEvents();
    runBatch(1);
    EXPECT_EQ(state->unpreparedTexts(), 1);
    ASSERT_EQ(batches.size(), 3u);
    runBatch(2);
    EXPECT_EQ(state->unpreparedTexts(), 0);

    state->setQuery(u"ALP"_s);
    EXPECT_EQ(texts(state->filteredPinned()), QStringList{u"Pinned Alpha"_s});
    EXPECT_EQ(texts(state->filteredHistory()), (QStringList{u"gamma alpha"_s, u"ALPHA beta"_s}));
    state->setQuery(u"delta"_s);
    EXPECT_TRUE(state->filteredHistory().isEmpty());

    // A keystroke before a batch is done still finds everything.
    store.record(u"epsilon"_s);
    state->setQuery(u"EPS"_s);
    EXPECT_EQ(texts(state->filteredHistory()), QStringList{u"epsilon"_s});
}

TEST_F(AppStateTest, SearchFindsAQueryWhereverItLiesInTheText) {
    makeState();
    auto clip = [](const QString& text) { return Clip::make(text, Instant{}); };
    // Every place in texts of several lengths, around the blocks the search
    // reads at once and in the tail after them, for queries of one to
    // seventeen characters.
    const QStringList queries = {u"q"_s, u"qz"_s, u"qöz"_s, u"qzqzqzqzqzqzqzqzq"_s};
    for (const QString& query : queries) {
        for (int length : {17, 33, 48, 70}) {
            for (int at = 0; at + query.size() <= length; ++at) {
                QString text(length, u'x');
                text.replace(at, query.size(), query);
                SCOPED_TRACE(text.toStdString());
                EXPECT_TRUE(state->matches(clip(text), query));
                EXPECT_TRUE(state->matches(clip(text), query.toUpper()));
                // First and last letters in place, one in between wrong.
                if (query.size() >= 3) {
                    QString nearMiss = text;
                    nearMiss[at + 1] = u'y';
                    EXPECT_FALSE(state->matches(clip(nearMiss), query));
                }
            }
        }
    }
    EXPECT_FALSE(state->matches(clip(u"short"_s), u"longer than the text"_s));
    EXPECT_TRUE(state->matches(clip(u"anything"_s), QString()));
}

// Clips come and go by the thousand (a flood from another device) with the
// panel closed and nothing searched: the texts prepared for searching must
// go with them, or every text ever copied stays in memory.
TEST_F(AppStateTest, PreparedTextsAreOnlyThoseOfClipsInTheStoreThroughRepeatedFloods) {
    prefs.setHistoryLimit(20);
    fill({u"pinned"_s}, {});
    makeState();
    state->setBackground([](std::function<void()> work) { std::thread(std::move(work)).join(); });
    const auto settle = [] {
        for (int i = 0; i < 3; ++i) // the queued folding, then its results
            QCoreApplication::processEvents();
    };
    for (int flood = 0; flood < 4; ++flood) {
        for (int i = 0; i < 50; ++i) {
            store.record(u"flood %1 clip %2"_s.arg(flood).arg(i));
            if (i % 10 == 0)
                settle();
        }
        settle();
        EXPECT_EQ(state->unpreparedTexts(), 0);
        EXPECT_EQ(state->preparedTexts(), 21) << "after flood " << flood;
    }
    // A search in between changes nothing about that.
    state->setQuery(u"clip 4"_s);
    EXPECT_EQ(state->filteredHistory().size(), 10);
    store.record(u"after the search"_s);
    settle();
    EXPECT_EQ(state->preparedTexts(), 21);
}
