#include "StoreFixture.h"
#include "core/sync/SyncCrypto.h"

#include <QSignalSpy>
#include <limits>

using namespace Qt::StringLiterals;

class ClipStoreMergeTest : public StoreFixture {
protected:
    void SetUp() override { openStore(); }

    // Settles pending saves so a test sees only what the merge schedules.
    void settle() { store->save(); }

    double at(double offset) const { return clock.now().plus(offset).unix(); }
};

TEST_F(ClipStoreMergeTest, StateListsPinsWithinTheLengthLimitAndEveryUnpinRecord) {
    const QString fiveCharacters = QString::fromUtf16(u"e\u0301e\u0301e\u0301e\u0301e\u0301");
    addPin(u"123456"_s);
    addPin(fiveCharacters);
    clock.advance(2);
    addPin(u"12345"_s);
    store->unpin(addPin(u"gone 1"_s));
    store->unpin(addPin(u"gone 2"_s));

    const auto [pins, unpins] = store->pinsState(5);
    ASSERT_EQ(pins.size(), 2);
    EXPECT_EQ(pins.at(0), (PinRecord{u"12345"_s, clock.now().unix()}));
    EXPECT_EQ(pins.at(1).text, fiveCharacters);
    EXPECT_DOUBLE_EQ(pins.at(1).pinnedAt, at(-2));
    ASSERT_EQ(unpins.size(), 2);
    QSet<QString> hashes;
    for (const UnpinRecord& unpin : unpins) {
        hashes.insert(unpin.hash);
        EXPECT_DOUBLE_EQ(unpin.at, store->unpinned().value(unpin.hash).unix());
    }
    EXPECT_EQ(hashes,
              (QSet<QString>{SyncCrypto::hash(u"gone 1"_s), SyncCrypto::hash(u"gone 2"_s)}));

    EXPECT_EQ(store->pinsState(0).pins.size(), 3) << "0 means no limit";
}

TEST_F(ClipStoreMergeTest, AReceivedPinTakesOverTheHistoryClipWithItsText) {
    prefs.setIgnoreDuplicates(false);
    store->record(u"shared"_s, u"old.app"_s);
    add(u"other"_s);
    clock.advance(1);
    store->record(u"shared"_s, u"new.app"_s);
    const Clip newest = store->history().first();
    settle();
    QSignalSpy pinnedSpy(store.get(), &ClipStore::pinnedChanged);

    EXPECT_TRUE(store->mergePins({{u"shared"_s, at(3)}}, {}));
    ASSERT_EQ(store->pinned().size(), 1);
    const Clip& pin = store->pinned().first();
    EXPECT_EQ(pin.id(), newest.id());
    EXPECT_EQ(pin.createdAt(), clock.now());
    EXPECT_EQ(pin.sourceApp(), u"new.app"_s);
    EXPECT_EQ(pin.pinnedAt(), clock.now().plus(3));
    EXPECT_EQ(texts(store->history()), Texts{"other"});
    EXPECT_TRUE(store->isSavePending());
    EXPECT_EQ(pinnedSpy.count(), 1);
    EXPECT_EQ(pinsChangedCalls, 0) << "the caller decides what to pass on";

    EXPECT_TRUE(store->mergePins({{u"brand new"_s, at(1)}}, {}));
    EXPECT_EQ(store->pinned().first().createdAt(), clock.now().plus(1));
    EXPECT_FALSE(store->pinned().first().sourceApp());
}

TEST_F(ClipStoreMergeTest, AReceivedPinLosesToALocalUnpinThatIsAsLate) {
    struct Case {
        double unpinOffset; // of the local unpin record, against the received pin
        bool applied;
    } const cases[] = {{+1, false}, {0, false}, {-1, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.unpinOffset);
        openEmptyStore();
        const QString hash = SyncCrypto::hash(u"text"_s);
        store->mergePins({}, {{hash, at(10 + c.unpinOffset)}});
        settle();

        EXPECT_EQ(store->mergePins({{u"text"_s, at(10)}}, {}), c.applied);
        EXPECT_EQ(store->pinned().size(), c.applied ? 1 : 0);
        EXPECT_EQ(store->unpinned().contains(hash), !c.applied);
        EXPECT_EQ(store->isSavePending(), c.applied);
    }
}

TEST_F(ClipStoreMergeTest, AReceivedUnpinRemovesALocalPinThatIsNotLater) {
    struct Case {
        double unpinOffset; // of the received unpin, against the local pin
        bool removed;
    } const cases[] = {{+1, true}, {0, true}, {-1, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.unpinOffset);
        openEmptyStore();
        const Clip pin = addPin(u"pinned"_s);
        settle();

        const double when = pin.pinnedAt()->unix() + c.unpinOffset;
        EXPECT_EQ(store->mergePins({}, {{pin.textHash(), when}}), c.removed);
        EXPECT_EQ(store->pinned().isEmpty(), c.removed);
        EXPECT_EQ(texts(store->history()), c.removed ? Texts{"pinned"} : Texts{});
        if (c.removed) {
            EXPECT_EQ(store->history().first().id(), pin.id());
            EXPECT_FALSE(store->history().first().pinnedAt());
        }
        EXPECT_DOUBLE_EQ(store->unpinned().value(pin.textHash()).unix(), when);
        EXPECT_TRUE(store->isSavePending());
    }
}

TEST_F(ClipStoreMergeTest, AnUnpinOfAnUnpinnedTextOnlyAdvancesTheRecord) {
    const QString hash = SyncCrypto::hash(u"never pinned here"_s);
    EXPECT_FALSE(store->mergePins({}, {{hash, at(5)}}));
    EXPECT_DOUBLE_EQ(store->unpinned().value(hash).unix(), at(5));
    EXPECT_TRUE(store->isSavePending());

    settle();
    EXPECT_FALSE(store->mergePins({}, {{hash, at(1)}}));
    EXPECT_DOUBLE_EQ(store->unpinned().value(hash).unix(), at(5)) << "never moves back";
    EXPECT_FALSE(store->isSavePending());
}

TEST_F(ClipStoreMergeTest, PinsThatDoNotFitAreCountedInOneLogLine) {
    prefs.setPinLimit(10);
    for (int i = 0; i < 9; ++i)
        addPin(u"local %1"_s.arg(i));
    EXPECT_TRUE(
        store->mergePins({{u"early"_s, at(1)}, {u"latest"_s, at(3)}, {u"middle"_s, at(2)}}, {}));
    EXPECT_EQ(store->pinned().size(), 10);
    EXPECT_EQ(store->pinned().first().text(), u"latest"_s);
    EXPECT_EQ(log.lines, QStringList{QString::fromUtf8(
                             "Tindrel: 2 pinned clip(s) from another device didn't fit — "
                             "the pin limit here is 10")});
}

TEST_F(ClipStoreMergeTest, NewPinsComeFirstLatestFirst) {
    addPin(u"mine"_s);
    EXPECT_TRUE(store->mergePins(
        {{u"b"_s, at(2)}, {u"a"_s, at(3)}, {u"c"_s, at(1)}, {u"c2"_s, at(1)}}, {}));
    EXPECT_EQ(texts(store->pinned()), (Texts{"a", "b", "c", "c2", "mine"}));
}

TEST_F(ClipStoreMergeTest, ALaterStampForAPinnedTextIsKeptAndSaved) {
    const Clip pin = addPin(u"pinned"_s);
    settle();
    // An older stamp changes nothing.
    EXPECT_FALSE(store->mergePins({{u"pinned"_s, at(-1)}}, {}));
    EXPECT_EQ(store->pinned().first().pinnedAt(), pin.pinnedAt());
    EXPECT_FALSE(store->isSavePending());

    // A later one is taken, and saved, or a restart would forget it.
    EXPECT_FALSE(store->mergePins({{u"pinned"_s, at(4)}}, {}));
    EXPECT_EQ(texts(store->pinned()), Texts{"pinned"});
    EXPECT_EQ(store->pinned().first().pinnedAt(), clock.now().plus(4));
    EXPECT_TRUE(store->isSavePending());
}

TEST_F(ClipStoreMergeTest, AnEmptyStateChangesNothing) {
    addPin(u"pin"_s);
    add(u"clip"_s);
    settle();
    const QByteArray before = store->encoded();
    QSignalSpy pinnedSpy(store.get(), &ClipStore::pinnedChanged);
    QSignalSpy historySpy(store.get(), &ClipStore::historyChanged);
    EXPECT_FALSE(store->mergePins({}, {}));
    EXPECT_EQ(store->encoded(), before);
    EXPECT_FALSE(store->isSavePending());
    EXPECT_EQ(pinnedSpy.count() + historySpy.count(), 0);
}

// A state from a faulty or hostile peer must not break the pin invariants.
TEST_F(ClipStoreMergeTest, OddEntriesInAReceivedStateAreIgnored) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const QString composed = QString::fromUtf16(u"caf\u00E9");
    const QString decomposed = QString::fromUtf16(u"cafe\u0301");
    EXPECT_TRUE(store->mergePins({{u"twice"_s, at(2)},
                                  {u"twice"_s, at(1)},
                                  {composed, at(1)},
                                  {decomposed, at(2)},
                                  {QString(), at(3)},
                                  {u"no time"_s, nan},
                                  {u"forever"_s, inf}},
                                 {{SyncCrypto::hash(u"x"_s), nan}}));
    EXPECT_EQ(texts(store->pinned()), (Texts{"twice", decomposed.toStdString()}));
    EXPECT_EQ(store->pinned().first().pinnedAt(), clock.now().plus(2));
    EXPECT_TRUE(store->unpinned().isEmpty());
}

TEST_F(ClipStoreMergeTest, ThousandsOfUnpinRecordsLeaveTheNewestTwoHundred) {
    const Clip pin = addPin(u"pinned"_s);
    QList<UnpinRecord> records;
    for (int i = 0; i < 5000; ++i)
        records.append({SyncCrypto::hash(QString::number(i)), at(-5000 + i)});
    records.append({pin.textHash(), at(1)});

    EXPECT_TRUE(store->mergePins({}, records));
    EXPECT_TRUE(store->pinned().isEmpty());
    EXPECT_EQ(store->unpinned().size(), 200);
    EXPECT_TRUE(store->unpinned().contains(pin.textHash()));
    EXPECT_TRUE(store->unpinned().contains(records.at(4999).hash));
    EXPECT_TRUE(store->unpinned().contains(records.at(4801).hash));
    EXPECT_FALSE(store->unpinned().contains(records.at(4800).hash));
}

TEST_F(ClipStoreMergeTest, ReceivedPinsTakeTheirRoomFromOldHistoryAndNeverOutweighTheBudget) {
    store->setTextBudget(1000);
    prefs.setPinLimit(10);
    const auto weighing = [](qint64 weight, QChar fill) {
        return QString(weight - StoreRules::kClipWeightOverhead, fill);
    };
    for (const QChar fill : {u'a', u'b', u'c', u'd'})
        store->record(weighing(250, fill));
    EXPECT_TRUE(store->mergePins({{weighing(300, u'p'), at(2)}, {weighing(900, u'q'), at(1)}}, {}));
    EXPECT_EQ(texts(store->pinned()), Texts{weighing(300, u'p').toStdString()});
    EXPECT_EQ(texts(store->history()),
              (Texts{weighing(250, u'd').toStdString(), weighing(250, u'c').toStdString()}));
    ASSERT_EQ(log.lines.size(), 1);
    EXPECT_TRUE(log.lines.first().contains(u"1 pinned clip(s) from another device didn't fit"_s))
        << log.lines.first().toStdString();
    EXPECT_TRUE(store->isSavePending());
}
