#include "StoreFixture.h"
#include "support/FifoRescue.h"
#include "support/FileSizeLimit.h"

#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <cerrno>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

class ClipStoreBackupTest : public StoreFixture {
protected:
    void SetUp() override { openStore(); }

    QString backupPath = xdg.path(u"Tindrel-backup.json"_s);

    // How many clips the import added.
    qsizetype importFile(const QByteArray& bytes) {
        writeFile(backupPath, bytes);
        const auto result = store->importClips(backupPath);
        EXPECT_TRUE(result) << (result ? std::string() : result.error().description.toStdString());
        return result ? result->added : -1;
    }
};

TEST_F(ClipStoreBackupTest, ExportThenImportIntoTheSameStoreAddsNothing) {
    addPin(u"pin"_s);
    add(u"a"_s);
    clock.advance(1);
    add(u"b"_s);
    ASSERT_TRUE(store->exportClips(backupPath));
    EXPECT_EQ(readFile(backupPath), store->encoded());

    const QByteArray before = store->encoded();
    const int calls = pinsChangedCalls;
    const auto result = store->importClips(backupPath);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->added, 0);
    EXPECT_EQ(result->pushedOut, 0);
    EXPECT_EQ(store->encoded(), before);
    EXPECT_EQ(pinsChangedCalls, calls);
}

TEST_F(ClipStoreBackupTest, ImportedPinsKeepTheBackupOrderAheadOfLocalPins) {
    const QJsonArray backupPins{clipJson(u"P1"_s, 1, 10), clipJson(u"P2"_s, 2, 20),
                                clipJson(u"P3"_s, 3, 30)};
    addPin(u"Q"_s);
    const int calls = pinsChangedCalls;
    clock.advance(1);
    QSignalSpy saves(store.get(), &ClipStore::saveFinished);
    EXPECT_EQ(importFile(fileWith({}, backupPins)), 3);
    EXPECT_EQ(texts(store->pinned()), (Texts{"P1", "P2", "P3", "Q"}));
    for (qsizetype i = 0; i < 3; ++i)
        EXPECT_EQ(store->pinned().at(i).pinnedAt(), clock.now()) << "a new pin stamp";
    EXPECT_EQ(pinsChangedCalls, calls + 1);
    // Saved at once, not after the lull.
    EXPECT_FALSE(store->isSavePending());
    ASSERT_TRUE(saves.wait(5000));
    EXPECT_EQ(readFile(storePath), store->encoded());
}

TEST_F(ClipStoreBackupTest, WithRoomForOnePinOnlyTheLastBackupPinComesIn) {
    prefs.setPinLimit(2);
    addPin(u"Q"_s);
    const QJsonArray backupPins{clipJson(u"P1"_s, 1, 10), clipJson(u"P2"_s, 2, 20),
                                clipJson(u"P3"_s, 3, 30)};
    EXPECT_EQ(importFile(fileWith({}, backupPins)), 1);
    EXPECT_EQ(texts(store->pinned()), (Texts{"P3", "Q"}));
    EXPECT_TRUE(store->history().isEmpty()) << "left-out pins do not go to history";
}

TEST_F(ClipStoreBackupTest, HistoryMergesByTextSortsByDateAndIsCut) {
    const QString composed = QString::fromUtf16(u"caf\u00E9");
    const QString decomposed = QString::fromUtf16(u"cafe\u0301");
    prefs.setHistoryLimit(4);
    clock.current = Instant::fromReference(1000);
    add(composed);
    clock.current = Instant::fromReference(500);
    add(u"local old"_s);
    clock.current = Instant::fromReference(2000);
    addPin(u"pinned here"_s);
    const QJsonArray backupHistory{
        clipJson(u"backup newest"_s, 1500), clipJson(u"pinned here"_s, 1400), // pinned locally
        clipJson(decomposed, 1300), // in history, spelled otherwise
        clipJson(u"backup middle"_s, 700),  clipJson(u"backup oldest"_s, 100), // falls off at once
    };
    writeFile(backupPath, fileWith(backupHistory, {}));
    const auto result = store->importClips(backupPath);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->added, 2);
    EXPECT_EQ(result->pushedOut, 1);
    EXPECT_EQ(texts(store->history()),
              (Texts{"backup newest", composed.toStdString(), "backup middle", "local old"}));
    EXPECT_EQ(texts(store->pinned()), Texts{"pinned here"});

    // Newer clips into a full history: each pushes an older one out, so the
    // store holds no more clips than before, yet two came in.
    writeFile(backupPath,
              fileWith({clipJson(u"newer 1"_s, 1900), clipJson(u"newer 2"_s, 1800)}, {}));
    const auto full = store->importClips(backupPath);
    ASSERT_TRUE(full);
    EXPECT_EQ(full->added, 2);
    EXPECT_EQ(full->pushedOut, 2);
    EXPECT_EQ(texts(store->history()),
              (Texts{"newer 1", "newer 2", "backup newest", composed.toStdString()}));
}

TEST_F(ClipStoreBackupTest, ATextImportedAsAPinStaysInLocalHistoryToo) {
    const Clip local = add(u"both"_s);
    EXPECT_EQ(importFile(fileWith({}, {clipJson(u"both"_s, 1, 2)})), 1);
    EXPECT_EQ(texts(store->pinned()), Texts{"both"});
    EXPECT_EQ(texts(store->history()), Texts{"both"});
    EXPECT_EQ(store->history().first().id(), local.id());
}

TEST_F(ClipStoreBackupTest, ImportedClipsGetFreshIdsWhenTheirIdsAreTakenAndEmptyTextsAreSkipped) {
    const Clip local = add(u"local"_s);
    QJsonObject sameIdPin = clipJson(u"other pin"_s, 1, 2);
    sameIdPin.insert(u"id"_s, local.toJson().value(u"id"_s));
    QJsonObject sameIdClip = clipJson(u"other clip"_s, 3);
    sameIdClip.insert(u"id"_s, local.toJson().value(u"id"_s));
    QJsonObject twin = clipJson(u"twin"_s, 4);
    twin.insert(u"id"_s, sameIdClip.value(u"id"_s));

    EXPECT_EQ(importFile(fileWith({sameIdClip, twin, clipJson(QString(), 5)},
                                  {sameIdPin, clipJson(QString(), 6, 7)})),
              3);
    QSet<QUuid> ids;
    for (const QList<Clip>* list : {&store->pinned(), &store->history()})
        for (const Clip& clip : *list) {
            EXPECT_FALSE(clip.text().isEmpty());
            ids.insert(clip.id());
        }
    EXPECT_EQ(ids.size(), 4) << "every clip can be found by its own id";

    // Operations by id reach exactly the clip they name.
    store->deleteClip(local);
    EXPECT_EQ(texts(store->pinned()), Texts{"other pin"});
    EXPECT_EQ(store->history().size(), 2);
}

TEST_F(ClipStoreBackupTest, AFailedImportReportsWhyAndChangesNothing) {
    addPin(u"pin"_s);
    add(u"clip"_s);
    store->unpin(addPin(u"gone"_s));
    store->save();
    const QByteArray before = store->encoded();
    const QString sparse = xdg.path(u"huge.json"_s);
    {
        QFile file(sparse);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(ClipStore::kMaxBackupBytes + 1));
    }
    const QString pipe = xdg.path(u"pipe.json"_s);
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    const FifoRescue rescue(pipe);
    const QString zero = xdg.path(u"zero.json"_s);
    ASSERT_TRUE(QFile::link(u"/dev/zero"_s, zero));

    struct Case {
        const char* what;
        QString path;
        QByteArray content; // written to path unless empty
        BackupError::Kind kind;
        const char* says = ""; // in the description
    } const cases[] = {
        {"not JSON", backupPath, "this is not json", BackupError::Kind::NotABackup},
        {"foreign JSON", backupPath, R"({"items": []})", BackupError::Kind::NotABackup},
        {"only pins", backupPath, R"({"pinned": []})", BackupError::Kind::NotABackup},
        {"a bad clip", backupPath,
         R"({"history":[{"id":"8F2C3E9A-0B1D-4C5E-9F6A-7B8C9D0E1F2A","text":"t"}],"pinned":[]})",
         BackupError::Kind::NotABackup},
        {"missing file", xdg.path(u"missing.json"_s), {}, BackupError::Kind::Unreadable},
        {"a folder", xdg.root(), {}, BackupError::Kind::Unreadable},
        {"larger than any store we write", sparse, {}, BackupError::Kind::TooLarge},
        {"a named pipe", pipe, {}, BackupError::Kind::Unreadable, "not a regular file"},
        {"a link to /dev/zero", zero, {}, BackupError::Kind::Unreadable, "not a regular file"},
    };
    QSignalSpy saves(store.get(), &ClipStore::saveFinished);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (!c.content.isEmpty())
            writeFile(c.path, c.content);
        const int calls = pinsChangedCalls;
        const auto result = store->importClips(c.path);
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error().kind, c.kind);
        EXPECT_FALSE(result.error().description.isEmpty());
        EXPECT_TRUE(result.error().description.contains(QString::fromUtf8(c.says)))
            << result.error().description.toStdString();
        EXPECT_EQ(store->encoded(), before);
        EXPECT_EQ(pinsChangedCalls, calls);
    }
    EXPECT_EQ(saves.count(), 0);
    EXPECT_FALSE(rescue.wasNeeded()) << "the pipe was opened";
}

TEST_F(ClipStoreBackupTest, ExportToAPlaceThatCannotBeWrittenFails) {
    add(u"clip"_s);
    const auto result = store->exportClips(xdg.path(u"no such folder/Tindrel-backup.json"_s));
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind, BackupError::Kind::Unwritable);
    EXPECT_FALSE(result.error().description.isEmpty());
}

TEST_F(ClipStoreBackupTest, AnImportStaysWithinTheTextBudgetDroppingTheOldestUnpinnedClips) {
    store->setTextBudget(1000);
    const auto weighing = [](qint64 weight, char fill) {
        return QString(weight - StoreRules::kClipWeightOverhead, QLatin1Char(fill));
    };
    clock.current = Instant::fromReference(1000);
    addPin(weighing(250, 'p'));
    add(weighing(250, 'l'));
    const QJsonArray backupHistory{
        clipJson(weighing(250, 'n'), 1500),                                   // newest of all
        clipJson(weighing(250, 'm'), 900), clipJson(weighing(250, 'o'), 100), // oldest of all
    };
    const QJsonArray backupPins{clipJson(weighing(800, 'q'), 50, 50)}; // too heavy beside ours
    writeFile(backupPath, fileWith(backupHistory, backupPins));
    const auto result = store->importClips(backupPath);
    ASSERT_TRUE(result);
    EXPECT_EQ(texts(store->pinned()), Texts{weighing(250, 'p').toStdString()});
    EXPECT_EQ(texts(store->history()),
              (Texts{weighing(250, 'n').toStdString(), weighing(250, 'l').toStdString(),
                     weighing(250, 'm').toStdString()}));
    EXPECT_EQ(result->added, 2);
    EXPECT_EQ(result->pushedOut, 1);
}

// A backup cut short by a full disk is a failed export, and the backup that
// was there before stays whole.
TEST_F(ClipStoreBackupTest, ExportToAFullDiskFailsAndKeepsTheOldBackup) {
    add(u"clip"_s);
    ASSERT_TRUE(store->exportClips(backupPath));
    const QByteArray before = readFile(backupPath);
    add(QString(4000, u'x'));
    std::expected<void, BackupError> result;
    {
        const FileSizeLimit full(before.size() + 100);
        ASSERT_TRUE(full.active());
        result = store->exportClips(backupPath);
    }
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind, BackupError::Kind::Unwritable);
    EXPECT_TRUE(result.error().description.contains(qt_error_string(EFBIG)))
        << result.error().description.toStdString();
    EXPECT_EQ(readFile(backupPath), before);
}
