#include "StoreFixture.h"

#include <QSignalSpy>

using namespace Qt::StringLiterals;

namespace {
const QString kComposed = QString::fromUtf16(u"na\u00EFve");
const QString kDecomposed = QString::fromUtf16(u"nai\u0308ve");
} // namespace

class ClipStoreTest : public StoreFixture {
protected:
    void SetUp() override { openStore(); }
};

TEST_F(ClipStoreTest, RecordAppliesTheTextFilters) {
    struct Case {
        bool trimWhitespace;
        bool skipShortClips;
        int maxClipLength;
        QString text;
        std::optional<QString> stored; // none: refused
    } const cases[] = {
        {false, false, 0, u"  ab  "_s, u"  ab  "_s},
        {false, true, 0, u"  ab  "_s, std::nullopt}, // trimmed text is short
        {true, false, 0, u"\n ab\t\n"_s, u"ab"_s},
        {false, false, 0, u" \n\t \r\n"_s, std::nullopt}, // whitespace only
        {false, false, 0, QString(), std::nullopt},
        {false, true, 0, u"abc"_s, u"abc"_s},
        // Two user-perceived characters in four code units.
        {false, true, 0, QString::fromUtf16(u"e\u0301e\u0301"), std::nullopt},
        {false, false, 5, u"abcdef"_s, std::nullopt},
        {false, false, 5, u"abcde"_s, u"abcde"_s},
        {false, false, 5, QString::fromUtf16(u"e\u0301e\u0301e\u0301e\u0301e\u0301"),
         QString::fromUtf16(u"e\u0301e\u0301e\u0301e\u0301e\u0301")},
        {false, false, 0, QString(5000, u'x'), QString(5000, u'x')},
    };
    for (const auto& c : cases) {
        prefs.setTrimWhitespace(c.trimWhitespace);
        prefs.setSkipShortClips(c.skipShortClips);
        prefs.setMaxClipLength(c.maxClipLength);
        store->setHistory({});
        store->record(c.text, u"org.example.App"_s);
        if (c.stored) {
            ASSERT_EQ(store->history().size(), 1) << c.text.toStdString();
            EXPECT_EQ(store->history().first().text(), *c.stored);
            EXPECT_EQ(store->history().first().sourceApp(), u"org.example.App"_s);
            EXPECT_EQ(store->history().first().createdAt(), clock.now());
        } else {
            EXPECT_TRUE(store->history().isEmpty()) << c.text.toStdString();
        }
    }
}

TEST_F(ClipStoreTest, RecordingAgainPromotesTheFirstCopyWhenDuplicatesAreIgnored) {
    prefs.setHistoryLimit(3);
    const Clip a = add(u"A"_s);
    store->record(u"B"_s, u"b.app"_s);
    store->record(u"C"_s);
    clock.advance(10);
    store->record(u"A"_s, u"new.app"_s);
    EXPECT_EQ(texts(store->history()), (Texts{"A", "C", "B"}));
    const Clip& promoted = store->history().first();
    EXPECT_EQ(promoted.id(), a.id());
    EXPECT_EQ(promoted.createdAt(), clock.now());
    EXPECT_EQ(promoted.sourceApp(), u"new.app"_s);

    // Without a source the old one stays; the canonically equal spelling
    // counts as the same text and keeps the stored spelling.
    store->record(u"B"_s);
    EXPECT_EQ(store->history().first().sourceApp(), u"b.app"_s);
    store->record(kComposed);
    store->record(kDecomposed);
    EXPECT_EQ(texts(store->history()), (Texts{kComposed.toStdString(), "B", "A"}));
}

TEST_F(ClipStoreTest, RecordingAgainAddsASecondClipWhenDuplicatesAreKept) {
    prefs.setIgnoreDuplicates(false);
    store->record(u"same"_s);
    store->record(u"same"_s);
    ASSERT_EQ(texts(store->history()), (Texts{"same", "same"}));
    EXPECT_NE(store->history().at(0).id(), store->history().at(1).id());
}

TEST_F(ClipStoreTest, APinnedTextIsNotRecordedAgain) {
    addPin(kComposed);
    for (bool ignoreDuplicates : {true, false}) {
        prefs.setIgnoreDuplicates(ignoreDuplicates);
        store->record(kComposed);
        store->record(kDecomposed);
        EXPECT_TRUE(store->history().isEmpty());
    }
}

TEST_F(ClipStoreTest, HistoryKeepsTheNewestUpToTheLimitAndFollowsLimitChanges) {
    prefs.setHistoryLimit(10);
    for (int i = 0; i < 12; ++i)
        store->record(u"clip %1"_s.arg(i));
    ASSERT_EQ(store->history().size(), 10);
    EXPECT_EQ(store->history().first().text(), u"clip 11"_s);
    EXPECT_EQ(store->history().last().text(), u"clip 2"_s);

    store->save();
    QSignalSpy changed(store.get(), &ClipStore::historyChanged);
    prefs.setHistoryLimit(4);
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(store->history().size(), 4);
    EXPECT_EQ(store->history().last().text(), u"clip 8"_s);
    EXPECT_TRUE(store->isSavePending());
}

TEST_F(ClipStoreTest, PinningMovesAHistoryClipAndUnpinningBringsItBack) {
    const Clip older = add(u"older"_s);
    clock.advance(5);
    add(u"newer"_s);
    clock.advance(5);
    QSignalSpy pinnedSpy(store.get(), &ClipStore::pinnedChanged);

    ASSERT_TRUE(store->pin(older));
    EXPECT_EQ(texts(store->history()), Texts{"newer"});
    ASSERT_EQ(store->pinned().size(), 1);
    EXPECT_EQ(store->pinned().first().id(), older.id());
    EXPECT_EQ(store->pinned().first().pinnedAt(), clock.now());
    EXPECT_EQ(pinsChangedCalls, 1);
    EXPECT_EQ(pinnedSpy.count(), 1);

    clock.advance(5);
    store->unpin(older);
    EXPECT_TRUE(store->pinned().isEmpty());
    EXPECT_EQ(texts(store->history()), (Texts{"older", "newer"}));
    EXPECT_EQ(store->history().first().createdAt(), older.createdAt());
    EXPECT_FALSE(store->history().first().pinnedAt());
    EXPECT_EQ(store->unpinned().value(older.textHash()), clock.now());
    EXPECT_EQ(pinsChangedCalls, 2);
    EXPECT_TRUE(store->isSavePending());

    // Unpinning what is not pinned does nothing.
    store->unpin(older);
    EXPECT_EQ(pinsChangedCalls, 2);
}

TEST_F(ClipStoreTest, UnpinningDropsTheClipWhenHistoryHoldsItsTextAgain) {
    prefs.setIgnoreDuplicates(false);
    const Clip pin = addPin(u"text"_s);
    // An import (or a duplicate from before) can leave the text in history.
    store->setHistory({Clip::make(kComposed, clock.now()), Clip::make(u"text"_s, clock.now())});
    store->unpin(pin);
    EXPECT_TRUE(store->pinned().isEmpty());
    EXPECT_EQ(store->history().size(), 2);
    EXPECT_NE(store->history().at(1).id(), pin.id());
}

TEST_F(ClipStoreTest, PinRefusesWhenFullAndAcceptsAPinnedTextWithoutChange) {
    prefs.setPinLimit(2);
    addPin(u"one"_s);
    const Clip two = addPin(u"two"_s);
    const Clip three = add(u"three"_s);
    ASSERT_TRUE(store->isPinnedFull());
    EXPECT_EQ(pinsChangedCalls, 2);

    EXPECT_FALSE(store->pin(three));
    EXPECT_EQ(texts(store->pinned()), (Texts{"two", "one"}));
    EXPECT_EQ(texts(store->history()), Texts{"three"});

    prefs.setPinLimit(3);
    const Clip sameText = Clip::make(u"two"_s, clock.now());
    clock.advance(1);
    EXPECT_TRUE(store->pin(sameText));
    EXPECT_EQ(texts(store->pinned()), (Texts{"two", "one"}));
    EXPECT_EQ(store->pinned().first().pinnedAt(), two.pinnedAt());
    EXPECT_EQ(pinsChangedCalls, 2);
}

// Stamps of a later action on the same text must be strictly later, even
// when the earlier one lies in the future (another device's clock).
TEST_F(ClipStoreTest, StampsOrderActionsOnOneTextEvenAgainstFutureStamps) {
    const Clip clip = add(u"x"_s);
    ASSERT_TRUE(store->pin(clip));
    store->unpin(clip);
    ASSERT_TRUE(store->unpinned().contains(clip.textHash()));
    // Put the unpin record 5 s into the future.
    ASSERT_FALSE(store->mergePins({}, {{clip.textHash(), clock.now().plus(5).unix()}}));
    ASSERT_TRUE(store->pin(store->history().first()));
    EXPECT_NEAR(store->pinned().first().pinnedAt()->sinceReference,
                clock.now().plus(5.001).sinceReference, 1e-6);
    EXPECT_FALSE(store->unpinned().contains(clip.textHash()));

    store->unpin(store->pinned().first());
    EXPECT_NEAR(store->unpinned().value(clip.textHash()).sinceReference,
                clock.now().plus(5.002).sinceReference, 1e-6);
}

TEST_F(ClipStoreTest, MovePinnedReordersOnlyForValidDistinctIndexes) {
    struct Case {
        qsizetype from, to;
        Texts result;
    } const cases[] = {
        {0, 2, {"B", "C", "A"}}, {2, 0, {"C", "A", "B"}},  {1, 2, {"A", "C", "B"}},
        {1, 1, {"A", "B", "C"}}, {-1, 0, {"A", "B", "C"}}, {0, 3, {"A", "B", "C"}},
        {3, 0, {"A", "B", "C"}},
    };
    for (const auto& c : cases) {
        store->clearPinned();
        for (const char* text : {"C", "B", "A"})
            addPin(QString::fromLatin1(text));
        store->save();
        store->movePinned(c.from, c.to);
        EXPECT_EQ(texts(store->pinned()), c.result) << c.from << " -> " << c.to;
        EXPECT_EQ(store->isSavePending(), (c.result != Texts{"A", "B", "C"}));
    }
    const int calls = pinsChangedCalls;
    store->movePinned(0, 1);
    EXPECT_EQ(pinsChangedCalls, calls);
    EXPECT_EQ(store->pinnedClip(0)->text(), u"B"_s);
    EXPECT_FALSE(store->pinnedClip(3));
    EXPECT_FALSE(store->pinnedClip(-1));
}

TEST_F(ClipStoreTest, DeleteRemovesByIdAndRecordsAnUnpinForPins) {
    prefs.setIgnoreDuplicates(false);
    const Clip pin = addPin(u"pinned"_s);
    const Clip first = add(u"dup"_s);
    add(u"dup"_s);
    const int calls = pinsChangedCalls;
    clock.advance(1);

    store->deleteClip(first);
    EXPECT_EQ(texts(store->history()), Texts{"dup"});
    EXPECT_NE(store->history().first().id(), first.id());
    EXPECT_EQ(pinsChangedCalls, calls);
    EXPECT_TRUE(store->unpinned().isEmpty());

    store->deleteClip(pin);
    EXPECT_TRUE(store->pinned().isEmpty());
    EXPECT_EQ(texts(store->history()), Texts{"dup"}); // not moved to history
    EXPECT_EQ(store->unpinned().value(pin.textHash()), clock.now());
    EXPECT_EQ(pinsChangedCalls, calls + 1);

    store->deleteClip(Clip::make(u"dup"_s, clock.now()));
    EXPECT_EQ(store->history().size(), 1);
}

TEST_F(ClipStoreTest, PromoteMovesAHistoryClipToTheTopAndLeavesPinsAlone) {
    const Clip a = add(u"a"_s);
    add(u"b"_s);
    const Clip pin = addPin(u"p"_s);
    clock.advance(3);
    store->promote(a);
    EXPECT_EQ(texts(store->history()), (Texts{"a", "b"}));
    EXPECT_EQ(store->history().first().createdAt(), clock.now());
    EXPECT_EQ(store->history().first().id(), a.id());

    store->promote(pin);
    EXPECT_EQ(texts(store->pinned()), Texts{"p"});
    EXPECT_EQ(texts(store->history()), (Texts{"a", "b"}));
}

TEST_F(ClipStoreTest, ClearPinnedRecordsEveryUnpinAndNotifiesOnlyWhenThereWerePins) {
    store->clearPinned();
    EXPECT_EQ(pinsChangedCalls, 0);

    const Clip a = addPin(u"a"_s);
    const Clip b = addPin(u"b"_s);
    add(u"h"_s);
    const int calls = pinsChangedCalls;
    clock.advance(1);
    store->clearPinned();
    EXPECT_TRUE(store->pinned().isEmpty());
    EXPECT_EQ(texts(store->history()), Texts{"h"});
    EXPECT_EQ(store->unpinned().value(a.textHash()), clock.now());
    EXPECT_EQ(store->unpinned().value(b.textHash()), clock.now());
    EXPECT_EQ(pinsChangedCalls, calls + 1);
}

TEST_F(ClipStoreTest, UnpinRecordsKeepTheNewestTwoHundred) {
    QList<UnpinRecord> records;
    for (int i = 0; i < 200; ++i)
        records.append(
            {u"%1"_s.arg(i, 64, 10, QLatin1Char('0')), clock.now().plus(-1000 + i).unix()});
    store->mergePins({}, records);
    ASSERT_EQ(store->unpinned().size(), 200);

    const Clip clip = addPin(u"fresh"_s);
    store->unpin(clip);
    EXPECT_EQ(store->unpinned().size(), 200);
    EXPECT_TRUE(store->unpinned().contains(clip.textHash()));
    EXPECT_FALSE(store->unpinned().contains(records.first().hash)); // the oldest
    EXPECT_TRUE(store->unpinned().contains(records.at(1).hash));
}

namespace {
// A text that weighs `weight` against the text budget (no source app).
QString weighing(qint64 weight, QChar fill) {
    return QString(weight - StoreRules::kClipWeightOverhead, fill);
}
} // namespace

TEST_F(ClipStoreTest, TheTextBudgetPushesOutTheOldestClipsNeverPinsAndRefusesWhatCannotFit) {
    store->setTextBudget(1000);
    addPin(weighing(250, u'p'));
    for (const QChar fill : {u'a', u'b', u'c'})
        store->record(weighing(250, fill));
    EXPECT_EQ(store->history().size(), 3); // exactly the budget
    store->record(weighing(250, u'd'));
    EXPECT_EQ(texts(store->history()),
              (Texts{weighing(250, u'd').toStdString(), weighing(250, u'c').toStdString(),
                     weighing(250, u'b').toStdString()}));
    EXPECT_TRUE(log.lines.isEmpty());

    // Fits the budget, not beside the pin: refused before anything leaves.
    const auto before = texts(store->history());
    store->record(weighing(800, u'e'));
    EXPECT_EQ(texts(store->history()), before);
    EXPECT_EQ(store->pinned().size(), 1);
    ASSERT_EQ(log.lines.size(), 1);
    EXPECT_TRUE(log.lines.first().contains(u"not recorded"_s)) << log.lines.first().toStdString();

    // Larger than the whole budget: refused however empty the store is.
    store->clearPinned();
    store->setHistory({});
    store->record(weighing(1001, u'f'));
    EXPECT_TRUE(store->history().isEmpty());
    EXPECT_EQ(log.lines.size(), 2);

    // Once the pin is gone the same text fits, and everything older leaves.
    for (const QChar fill : {u'a', u'b'})
        store->record(weighing(250, fill));
    store->record(weighing(800, u'e'));
    EXPECT_EQ(texts(store->history()), Texts{weighing(800, u'e').toStdString()});
}

// Whatever fills the budget, the file it gives stays within what loading and
// importing accept: six bytes per unit of weight, and a little for the
// frame and the unpin records.
TEST_F(ClipStoreTest, AStoreFilledToItsBudgetIsAFileThatLoadsAndImports) {
    static_assert(6 * StoreRules::kTextBudget + (1 << 20) <= ClipStore::kMaxStoreBytes);
    static_assert(ClipStore::kMaxBackupBytes == ClipStore::kMaxStoreBytes);
    constexpr qint64 budget = 20000;
    store->setTextBudget(budget);
    prefs.setHistoryLimit(1000);
    prefs.setPinLimit(20);
    for (int i = 0; i < 200; ++i)
        store->unpin(addPin(u"unpinned %1"_s.arg(i)));
    store->setHistory({});
    // Texts that grow most when escaped: control characters and lone
    // surrogates, six bytes each; tiny clips, where the record's frame is
    // most of the file; and long sources.
    const QString controls(300, QChar(0x01));
    const QString surrogates(300, QChar(0xDC00));
    for (int i = 0; i < 20; ++i)
        addPin(controls + QString::number(i));
    for (int i = 0; i < 3000; ++i) {
        clock.advance(0.123456789);
        store->record((i % 3 == 0   ? surrogates
                       : i % 3 == 1 ? u"tiny "_s
                                    : controls) +
                          QString::number(i),
                      QString(i % 50, u'\u0002'));
    }
    const qint64 weight =
        StoreRules::weight(store->history()) + StoreRules::weight(store->pinned());
    EXPECT_LE(weight, budget);
    EXPECT_GT(weight, budget - 500); // filled, not emptied
    const qint64 unpinRecords = 200 * 100;
    EXPECT_LE(store->encoded().size(), 6 * budget + unpinRecords);
}
