#include "StoreFixture.h"

#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>

using namespace std::chrono_literals;

namespace {
// The fake clock's start, 700000000 s after 2001, in UTC.
const QString kDamagedSuffix = QStringLiteral(".damaged-20230308T202640Z");
} // namespace

class ClipStorePersistenceTest : public StoreFixture {};

TEST_F(ClipStorePersistenceTest, FirstStartWritesOnceAfterABurstOfChanges) {
    openStore();
    EXPECT_TRUE(store->history().isEmpty());
    EXPECT_EQ(store->storeSizeOnDisk(), 0);

    QSignalSpy saves(store.get(), &ClipStore::saveFinished);
    for (int i = 0; i < 10; ++i)
        store->record(QStringLiteral("capture %1").arg(i));
    EXPECT_FALSE(QFileInfo::exists(storePath)) << "written before the lull";
    ASSERT_TRUE(saves.wait(5000));
    EXPECT_EQ(saves.count(), 1);
    EXPECT_TRUE(saves.first().first().toBool());
    EXPECT_FALSE(store->isSavePending());

    EXPECT_EQ(readFile(storePath), store->encoded());
    EXPECT_EQ(store->storeSizeOnDisk(), QFileInfo(storePath).size());
    // Private: the file and the folder it had to create.
    EXPECT_EQ(QFileInfo(storePath).permissions() &
                  ~(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser),
              0);
    EXPECT_EQ(QFileInfo(QFileInfo(storePath).absolutePath()).permissions() &
                  (QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther),
              0);
}

TEST_F(ClipStorePersistenceTest, SavedStateLoadsBackAsItWas) {
    openStore();
    add(QStringLiteral("old"));
    clock.advance(1);
    const Clip pin = addPin(QStringLiteral("pinned"));
    clock.advance(1);
    const Clip gone = addPin(QStringLiteral("unpinned later"));
    clock.advance(1);
    store->deleteClip(gone);
    store->record(QStringLiteral("new"), QStringLiteral("org.kde.konsole"));
    ASSERT_TRUE(store->save());
    const QList<Clip> history = store->history();
    const QList<Clip> pinned = store->pinned();
    const QHash<QString, Instant> unpinned = store->unpinned();

    openStore();
    EXPECT_EQ(store->history(), history);
    EXPECT_EQ(store->pinned(), pinned);
    EXPECT_EQ(store->unpinned(), unpinned);
    EXPECT_FALSE(store->isSavePending()) << "loading schedules no save";
    EXPECT_EQ(pinsChangedCalls, 0);
}

// Pins are never evicted: a file with more pins than the limit keeps them
// all (the limit then only refuses new pins), while history is cut.
TEST_F(ClipStorePersistenceTest, LoadingKeepsEveryPinAndCutsHistoryToTheLimit) {
    prefs.setPinLimit(10);
    prefs.setHistoryLimit(10);
    QJsonArray pins, history;
    for (int i = 0; i < 15; ++i)
        pins.append(clipJson(QStringLiteral("pin %1").arg(i), 100 + i, 200 + i));
    pins.append(clipJson(QStringLiteral("pin without stamp"), 50));
    history.append(clipJson(QString(), 2000)); // never a clip: dropped
    for (int i = 0; i < 12; ++i)
        history.append(clipJson(QStringLiteral("clip %1").arg(i), 1000 - i));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(storePath).absolutePath()));
    writeFile(storePath, fileWith(history, pins));

    openStore();
    ASSERT_EQ(store->pinned().size(), 16);
    EXPECT_EQ(store->pinned().at(14).text(), QStringLiteral("pin 14"));
    EXPECT_EQ(store->pinned().last().pinnedAt(), Instant::fromReference(50));
    ASSERT_EQ(store->history().size(), 10);
    EXPECT_EQ(store->history().first().text(), QStringLiteral("clip 0"));
    EXPECT_EQ(store->history().last().text(), QStringLiteral("clip 9"));
    EXPECT_TRUE(store->unpinned().isEmpty());
    EXPECT_TRUE(log.lines.isEmpty());

    EXPECT_FALSE(store->pin(store->history().first()));
    ASSERT_TRUE(store->save());
    openStore();
    EXPECT_EQ(store->pinned().size(), 16);
}

TEST_F(ClipStorePersistenceTest, ADamagedFileIsMovedAsideBeforeAnythingSaves) {
    struct Case {
        const char* what;
        QByteArray content;
    } const cases[] = {
        {"not JSON", "{\"history\": [ {\"text\": \"cut off"},
        {"no history", R"({"pinned": []})"},
        {"a clip whose id is not a UUID",
         R"({"history":[{"id":"nope","text":"t","createdAt":1}],"pinned":[]})"},
        {"a foreign JSON file", R"([1, 2, 3])"},
    };
    const QString damaged = storePath + kDamagedSuffix;
    ASSERT_TRUE(QDir().mkpath(QFileInfo(storePath).absolutePath()));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(damaged);
        log.lines.clear();
        writeFile(storePath, c.content);

        openStore();
        EXPECT_TRUE(store->history().isEmpty());
        EXPECT_TRUE(store->pinned().isEmpty());
        EXPECT_FALSE(QFileInfo::exists(storePath));
        EXPECT_EQ(readFile(damaged), c.content);
        ASSERT_EQ(log.lines.size(), 1);
        EXPECT_TRUE(log.lines.first().startsWith(QStringLiteral("Tindrel: ")));
        EXPECT_TRUE(log.lines.first().contains(damaged)) << log.lines.first().toStdString();

        store->record(QStringLiteral("fresh start"));
        ASSERT_TRUE(store->save());
        EXPECT_EQ(readFile(damaged), c.content) << "the damaged copy stays as it was";
    }
}

TEST_F(ClipStorePersistenceTest, AnUnreadableStoreIsMovedAsideUnderAFreeName) {
    // A folder where the file should be cannot be read as one.
    ASSERT_TRUE(QDir().mkpath(storePath + QStringLiteral("/inside")));
    writeFile(storePath + kDamagedSuffix, "an earlier damaged file");

    openStore();
    const QString target = storePath + kDamagedSuffix + QStringLiteral("-2");
    EXPECT_TRUE(QFileInfo(target + QStringLiteral("/inside")).isDir());
    EXPECT_EQ(readFile(storePath + kDamagedSuffix), "an earlier damaged file");
    ASSERT_EQ(log.lines.size(), 1);
    EXPECT_TRUE(log.lines.first().contains(target));
    store->record(QStringLiteral("x"));
    EXPECT_TRUE(store->save());
}

// When the damaged file cannot be moved aside, saving would destroy what may
// still be recovered from it, so nothing saves in this session.
TEST_F(ClipStorePersistenceTest, ADamagedFileThatCannotBeMovedIsNeverOverwritten) {
    // The extra suffix makes the name longer than the file system allows.
    storePath = xdg.path(QString(240, u's') + QStringLiteral(".json"));
    writeFile(storePath, "garbage");

    openStore();
    ASSERT_EQ(log.lines.size(), 1);
    EXPECT_TRUE(log.lines.first().startsWith(QStringLiteral("Tindrel: ")));
    store->record(QStringLiteral("kept in memory"));
    EXPECT_FALSE(store->save());
    EXPECT_EQ(readFile(storePath), "garbage");
    EXPECT_EQ(texts(store->history()), Texts{"kept in memory"});
}

TEST_F(ClipStorePersistenceTest, AFailedSaveIsLoggedAndTheNextChangeRetries) {
    // A file where the store's folder should be makes every write fail,
    // whoever runs the test.
    const QString blocker = xdg.path(QStringLiteral("data"));
    writeFile(blocker, "not a folder");
    openStore();
    store->setSaveDelay(1ms);

    add(QStringLiteral("survives in memory"));
    EXPECT_FALSE(store->save());
    ASSERT_EQ(log.lines.size(), 1);
    EXPECT_TRUE(log.lines.first().startsWith(QString::fromUtf8("Tindrel: save failed — ")))
        << log.lines.first().toStdString();
    EXPECT_GT(log.lines.first().size(), QString::fromUtf8("Tindrel: save failed — ").size());
    EXPECT_EQ(texts(store->history()), Texts{"survives in memory"});
    EXPECT_FALSE(store->isSavePending()) << "no retry timer of its own";

    ASSERT_TRUE(QFile::remove(blocker));
    QSignalSpy saves(store.get(), &ClipStore::saveFinished);
    add(QStringLiteral("next change"));
    ASSERT_TRUE(saves.wait(5000));
    EXPECT_TRUE(saves.first().first().toBool());
    EXPECT_EQ(readFile(storePath), store->encoded());
    EXPECT_EQ(log.lines.size(), 1);
}
