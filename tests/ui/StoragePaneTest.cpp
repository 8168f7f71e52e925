#include "SettingsFixture.h"

#include "ui/settings/AboutPane.h"
#include "ui/settings/StoragePane.h"

using namespace Qt::StringLiterals;

namespace {
QStringList numbered(const QString& prefix, int count) {
    QStringList texts;
    for (int i = 1; i <= count; ++i)
        texts << prefix + QString::number(i);
    return texts;
}
} // namespace

TEST_F(SettingsFixture, ExportThenImportRoundTripsAndCountsWhatCameIn) {
    fill({u"pin a"_s, u"pin b"_s, u"pin c"_s}, numbered(u"clip "_s, 10));
    auto& storage = pane<StoragePane>(SettingsTab::storage);
    const QString backup = path(u"backup.json"_s);
    storage.chooseExportPath = [&] { return backup; };
    storage.chooseImportPath = [&] { return backup; };

    storage.exportClips();
    EXPECT_EQ(storage.message(), u"Exported 13 clips."_s);

    // Everything is already here.
    storage.importClips();
    EXPECT_EQ(storage.message(), u"Imported 0 new clips."_s);

    store.clearPinned();
    store.setHistory(store.history().mid(0, 9));
    storage.importClips();
    EXPECT_EQ(storage.message(), u"Imported 4 new clips."_s);
    EXPECT_EQ(store.pinned().size(), 3);
    EXPECT_EQ(store.history().size(), 10);

    // Cancelling either dialog changes nothing.
    storage.chooseExportPath = [] { return QString(); };
    storage.chooseImportPath = [] { return QString(); };
    storage.exportClips();
    storage.importClips();
    EXPECT_EQ(storage.message(), u"Imported 4 new clips."_s);
}

// The change of the total would say "Imported 0 new clips." here: five came
// in and five older ones fell out of a full history.
TEST_F(SettingsFixture, ImportCountsClipsPushedOutOfTheHistoryLimit) {
    prefs.setHistoryLimit(10);
    fill({}, numbered(u"old "_s, 10));
    clock.advance(3600);
    {
        QTemporaryDir other;
        ClipStore source(prefs, clock, other.filePath(u"store.json"_s));
        fillStore(source, {}, numbered(u"new "_s, 5));
        ASSERT_TRUE(source.exportClips(path(u"newer.json"_s)));
    }
    auto& storage = pane<StoragePane>(SettingsTab::storage);
    storage.chooseImportPath = [&] { return path(u"newer.json"_s); };

    storage.importClips();
    EXPECT_EQ(storage.message(),
              u"Imported 5 new clips; 5 older clips no longer fit the history limit."_s);
    EXPECT_EQ(store.history().size(), 10);

    // A file that is no backup reports why and changes nothing.
    QFile junk(path(u"junk.json"_s));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("not json");
    junk.close();
    storage.chooseImportPath = [&] { return path(u"junk.json"_s); };
    storage.importClips();
    EXPECT_TRUE(storage.message().startsWith(u"Import failed: "_s))
        << storage.message().toStdString();
    EXPECT_EQ(store.history().size(), 10);
}

TEST(StoragePane, ImportMessagesSayWhatHappened) {
    struct Case {
        qsizetype added;
        qsizetype pushedOut;
        QString expected;
    };
    const Case cases[] = {
        {0, 0, u"Imported 0 new clips."_s},
        {1, 0, u"Imported 1 new clip."_s},
        {3, 1, u"Imported 3 new clips; 1 older clip no longer fits the history limit."_s},
        {1, 12, u"Imported 1 new clip; 12 older clips no longer fit the history limit."_s},
    };
    for (const Case& c : cases)
        EXPECT_EQ(StoragePane::importMessage(c.added, c.pushedOut), c.expected);
}

TEST_F(SettingsFixture, ClearingAsksWhenToldAndLeavesTheOtherListAlone) {
    fill({u"pinned"_s}, {});
    auto& storage = pane<StoragePane>(SettingsTab::storage);
    QStringList asked;
    bool answer = false;
    storage.confirmClear = [&](const QString& title, const QString& text) {
        asked << title + u" | "_s + text;
        return answer;
    };

    prefs.setConfirmClear(true);
    storage.clearHistory();
    EXPECT_EQ(asked, QStringList{u"Clear clipboard history? | 0 recent clips will be removed. "
                                 "Pinned clips are kept."_s});
    EXPECT_TRUE(storage.message().isEmpty());
    storage.clearPinned();
    EXPECT_EQ(asked.last(),
              u"Clear pinned clips? | All 1 pinned clips will be permanently removed."_s);
    EXPECT_EQ(store.pinned().size(), 1);

    store.record(u"recent"_s);
    prefs.setConfirmClear(false);
    storage.clearHistory();
    EXPECT_EQ(asked.size(), 2) << "asked although confirmClear is off";
    EXPECT_EQ(storage.message(), u"History cleared."_s);
    EXPECT_TRUE(store.history().isEmpty());
    EXPECT_EQ(store.pinned().size(), 1);
    storage.clearPinned();
    EXPECT_EQ(storage.message(), u"Pinned clips cleared."_s);
    EXPECT_TRUE(store.pinned().isEmpty());

    storage.revealStore();
    EXPECT_EQ(files.revealed, QStringList{store.storePath()});
}

TEST_F(SettingsFixture, ResetKeepsTheHistoryLimitWhenTheDefaultWouldDropClips) {
    struct Case {
        int limit;
        int clips;
        int expectedLimit;
    };
    // The default is 100: only a longer history keeps its limit.
    const Case cases[] = {{300, 150, 300}, {300, 100, 100}, {50, 40, 100}};
    for (const Case& c : cases) {
        store.setHistory({});
        prefs.setHistoryLimit(c.limit);
        fill({}, numbered(u"clip "_s, c.clips));
        prefs.setTheme(AppTheme::dark);
        prefs.setDisplayLimit(40);
        auto& about = pane<AboutPane>(SettingsTab::about);
        bool answer = false;
        about.confirmReset = [&] { return answer; };

        about.resetAll();
        EXPECT_EQ(prefs.theme(), AppTheme::dark) << "reset without the user's yes";

        answer = true;
        about.resetAll();
        EXPECT_EQ(prefs.historyLimit(), c.expectedLimit) << c.limit << "/" << c.clips;
        EXPECT_EQ(store.history().size(), c.clips) << "the reset cost clips";
        EXPECT_EQ(prefs.theme(), AppTheme::system);
        EXPECT_EQ(prefs.displayLimit(), 25);
        EXPECT_EQ(settings.values.value(u"historyLimit"_s).toInt(), c.expectedLimit);
    }
}
