#include "StoreFixture.h"
#include "core/store/StoreCodec.h"
#include "support/FifoRescue.h"
#include "support/FileSizeLimit.h"

#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <cerrno>
#include <optional>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

using namespace std::chrono_literals;

namespace {
// The fake clock's start, 700000000 s after 2001, in UTC.
const QString kDamagedSuffix = u".damaged-20230308T202640Z"_s;
} // namespace

class ClipStorePersistenceTest : public StoreFixture {};

TEST_F(ClipStorePersistenceTest, FirstStartWritesOnceAfterABurstOfChanges) {
    openStore();
    EXPECT_TRUE(store->history().isEmpty());
    EXPECT_EQ(store->storeSizeOnDisk(), 0);

    QSignalSpy saves(store.get(), &ClipStore::saveFinished);
    for (int i = 0; i < 10; ++i)
        store->record(u"capture %1"_s.arg(i));
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
    add(u"old"_s);
    clock.advance(1);
    const Clip pin = addPin(u"pinned"_s);
    clock.advance(1);
    const Clip gone = addPin(u"unpinned later"_s);
    clock.advance(1);
    store->deleteClip(gone);
    store->record(u"new"_s, u"org.kde.konsole"_s);
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
        pins.append(clipJson(u"pin %1"_s.arg(i), 100 + i, 200 + i));
    pins.append(clipJson(u"pin without stamp"_s, 50));
    history.append(clipJson(QString(), 2000)); // never a clip: dropped
    for (int i = 0; i < 12; ++i)
        history.append(clipJson(u"clip %1"_s.arg(i), 1000 - i));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(storePath).absolutePath()));
    writeFile(storePath, fileWith(history, pins));

    openStore();
    ASSERT_EQ(store->pinned().size(), 16);
    EXPECT_EQ(store->pinned().at(14).text(), u"pin 14"_s);
    EXPECT_EQ(store->pinned().last().pinnedAt(), Instant::fromReference(50));
    ASSERT_EQ(store->history().size(), 10);
    EXPECT_EQ(store->history().first().text(), u"clip 0"_s);
    EXPECT_EQ(store->history().last().text(), u"clip 9"_s);
    EXPECT_TRUE(store->unpinned().isEmpty());
    EXPECT_TRUE(log.lines.isEmpty());

    EXPECT_FALSE(store->pin(store->history().first()));
    ASSERT_TRUE(store->save());
    openStore();
    EXPECT_EQ(store->pinned().size(), 16);
}

// Only the clips the history keeps are built from the file; what a store
// then holds is what building every clip and cutting afterwards gave.
TEST_F(ClipStorePersistenceTest, LoadingBuildsOnlyWhatItKeepsAndKeepsWhatCuttingLaterWould) {
    prefs.setPinLimit(3);
    QJsonArray pins, history;
    for (int i = 0; i < 6; ++i) // more pins than the limit, in no date order
        pins.append(clipJson(u"pin %1"_s.arg(i), 300 + (i * 7) % 5, (i % 2) ? 400.0 + i : 0));
    pins.append(clipJson(QString(), 50));
    for (int i = 0; i < 40; ++i) {
        // Dates out of order, empty texts before and after the cut, sources.
        QJsonObject clip =
            clipJson(i % 9 == 4 ? QString() : u"clip %1"_s.arg(i), 1000 - (i * 13) % 17);
        if (i % 3 == 0)
            clip.insert(u"sourceApp"_s, u"org.example.App%1"_s.arg(i));
        history.append(clip);
    }
    QJsonObject unpinned{{u"aa"_s, 1700000000.5}};
    ASSERT_TRUE(QDir().mkpath(QFileInfo(storePath).absolutePath()));
    const QByteArray file = fileWith(history, pins, unpinned);
    auto everything = StoreCodec::decode(file);
    ASSERT_TRUE(everything);

    for (const int limit : {10, 13, 35, 1000}) {
        SCOPED_TRACE(limit);
        prefs.setHistoryLimit(limit);
        writeFile(storePath, file);
        openStore();

        QList<Clip> expectedHistory = everything->history;
        expectedHistory.removeIf([](const Clip& clip) { return clip.text().isEmpty(); });
        expectedHistory.resize(std::min<qsizetype>(expectedHistory.size(), prefs.historyLimit()));
        QList<Clip> expectedPins = everything->pinned;
        expectedPins.removeIf([](const Clip& clip) { return clip.text().isEmpty(); });
        for (Clip& pin : expectedPins)
            if (!pin.pinnedAt())
                pin.setPinnedAt(pin.createdAt());
        EXPECT_EQ(store->history(), expectedHistory);
        EXPECT_EQ(store->pinned(), expectedPins);
        EXPECT_EQ(store->unpinned(), everything->unpinned);
        EXPECT_TRUE(log.lines.isEmpty());
    }

    // A damaged clip past the cut still means a damaged file: set aside, not
    // overwritten with what came before it.
    prefs.setHistoryLimit(10);
    QJsonArray damagedHistory = history;
    damagedHistory.append(
        QJsonObject{{u"id"_s, u"nope"_s}, {u"text"_s, u"t"_s}, {u"createdAt"_s, 1}});
    const QByteArray damagedFile = fileWith(damagedHistory, pins);
    writeFile(storePath, damagedFile);
    openStore();
    EXPECT_TRUE(store->history().isEmpty());
    EXPECT_TRUE(store->pinned().isEmpty());
    EXPECT_EQ(readFile(storePath + kDamagedSuffix), damagedFile);
    ASSERT_EQ(log.lines.size(), 1);
    EXPECT_TRUE(log.lines.first().contains(u"no valid \"id\""_s))
        << log.lines.first().toStdString();
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
        EXPECT_TRUE(log.lines.first().startsWith(u"Tindrel: "_s));
        EXPECT_TRUE(log.lines.first().contains(damaged)) << log.lines.first().toStdString();

        store->record(u"fresh start"_s);
        ASSERT_TRUE(store->save());
        EXPECT_EQ(readFile(damaged), c.content) << "the damaged copy stays as it was";
    }
}

TEST_F(ClipStorePersistenceTest, AnUnreadableStoreIsMovedAsideUnderAFreeName) {
    // A folder where the file should be cannot be read as one.
    ASSERT_TRUE(QDir().mkpath(storePath + u"/inside"_s));
    writeFile(storePath + kDamagedSuffix, "an earlier damaged file");

    openStore();
    const QString target = storePath + kDamagedSuffix + u"-2"_s;
    EXPECT_TRUE(QFileInfo(target + u"/inside"_s).isDir());
    EXPECT_EQ(readFile(storePath + kDamagedSuffix), "an earlier damaged file");
    ASSERT_EQ(log.lines.size(), 1);
    EXPECT_TRUE(log.lines.first().contains(target));
    store->record(u"x"_s);
    EXPECT_TRUE(store->save());
}

// A named pipe would block the start until some writer came along, and
// /dev/zero would fill memory: neither is opened. Renaming the pipe or the
// link aside loses nothing.
TEST_F(ClipStorePersistenceTest, AStoreThatIsNotARegularFileIsSetAsideUnopened) {
    struct Case {
        const char* what;
        bool pipe; // else a link to /dev/zero
        const char* says;
    } const cases[] = {
        {"a named pipe", true, "named pipe"},
        {"a link to /dev/zero", false, "device"},
    };
    const QString damaged = storePath + kDamagedSuffix;
    ASSERT_TRUE(QDir().mkpath(QFileInfo(storePath).absolutePath()));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(damaged);
        QFile::remove(storePath);
        log.lines.clear();
        if (c.pipe)
            ASSERT_EQ(::mkfifo(QFile::encodeName(storePath).constData(), 0600), 0);
        else
            ASSERT_TRUE(QFile::link(u"/dev/zero"_s, storePath));

        {
            std::optional<FifoRescue> rescue;
            if (c.pipe)
                rescue.emplace(storePath);
            openStore();
            if (rescue) {
                EXPECT_FALSE(rescue->wasNeeded()) << "the pipe was opened";
            }
        }
        EXPECT_TRUE(store->history().isEmpty());
        ASSERT_EQ(log.lines.size(), 1);
        EXPECT_TRUE(log.lines.first().contains(damaged)) << log.lines.first().toStdString();
        EXPECT_TRUE(log.lines.first().contains(QString::fromUtf8(c.says)))
            << log.lines.first().toStdString();
        struct stat aside {};
        ASSERT_EQ(::lstat(QFile::encodeName(damaged).constData(), &aside), 0);
        EXPECT_TRUE(c.pipe ? S_ISFIFO(aside.st_mode) : S_ISLNK(aside.st_mode));
        if (!c.pipe) {
            EXPECT_EQ(QFileInfo(damaged).symLinkTarget(), u"/dev/zero"_s);
        }

        store->record(u"fresh start"_s);
        ASSERT_TRUE(store->save());
        EXPECT_TRUE(QFileInfo(storePath).isFile());
        EXPECT_FALSE(QFileInfo(storePath).isSymLink());
    }
}

// When the damaged file cannot be moved aside, saving would destroy what may
// still be recovered from it, so nothing saves in this session.
TEST_F(ClipStorePersistenceTest, ADamagedFileThatCannotBeMovedIsNeverOverwritten) {
    // The extra suffix makes the name longer than the file system allows.
    storePath = xdg.path(QString(240, u's') + u".json"_s);
    writeFile(storePath, "garbage");

    openStore();
    ASSERT_EQ(log.lines.size(), 1);
    EXPECT_TRUE(log.lines.first().startsWith(u"Tindrel: "_s));
    store->record(u"kept in memory"_s);
    EXPECT_FALSE(store->save());
    EXPECT_EQ(readFile(storePath), "garbage");
    EXPECT_EQ(texts(store->history()), Texts{"kept in memory"});
}

TEST_F(ClipStorePersistenceTest, AFailedSaveIsLoggedAndTheNextChangeRetries) {
    // A file where the store's folder should be makes every write fail,
    // whoever runs the test.
    const QString blocker = xdg.path(u"data"_s);
    writeFile(blocker, "not a folder");
    openStore();
    store->setSaveDelay(1ms);

    add(u"survives in memory"_s);
    EXPECT_FALSE(store->save());
    ASSERT_EQ(log.lines.size(), 1);
    EXPECT_TRUE(log.lines.first().startsWith(QString::fromUtf8("Tindrel: save failed — ")))
        << log.lines.first().toStdString();
    EXPECT_GT(log.lines.first().size(), QString::fromUtf8("Tindrel: save failed — ").size());
    EXPECT_EQ(texts(store->history()), Texts{"survives in memory"});
    EXPECT_FALSE(store->isSavePending()) << "no retry timer of its own";
    ASSERT_TRUE(store->saveError());
    EXPECT_TRUE(log.lines.first().endsWith(*store->saveError()));

    ASSERT_TRUE(QFile::remove(blocker));
    QSignalSpy saves(store.get(), &ClipStore::saveFinished);
    QSignalSpy errorChanges(store.get(), &ClipStore::saveErrorChanged);
    add(u"next change"_s);
    ASSERT_TRUE(saves.wait(5000));
    EXPECT_TRUE(saves.first().first().toBool());
    EXPECT_EQ(readFile(storePath), store->encoded());
    EXPECT_EQ(log.lines.size(), 1) << "each failure is logged once";
    EXPECT_FALSE(store->saveError());
    EXPECT_EQ(errorChanges.count(), 1);
}

// A disk that fills up during a save: what was written in part never takes
// the old file's place, and the failure is reported like any other. Writes
// smaller than Qt's write buffer fail only when it is flushed.
TEST_F(ClipStorePersistenceTest, ASaveCutShortLeavesTheOldFileAsItWas) {
    struct Case {
        const char* what;
        qsizetype clipSize;
    } const cases[] = {
        {"a small save", 4000},
        {"a large save", 200000},
    };
    openStore();
    add(u"saved before the disk filled"_s);
    ASSERT_TRUE(store->save());
    const QByteArray before = readFile(storePath);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        log.lines.clear();
        add(QString(c.clipSize, u'x'));
        {
            const FileSizeLimit full(before.size() + 100);
            ASSERT_TRUE(full.active());
            EXPECT_FALSE(store->save());
        }
        EXPECT_EQ(readFile(storePath), before);
        ASSERT_EQ(log.lines.size(), 1);
        EXPECT_EQ(log.lines.first(),
                  QString::fromUtf8("Tindrel: save failed — ") + qt_error_string(EFBIG));
        ASSERT_TRUE(store->saveError());
        EXPECT_TRUE(QFileInfo(storePath).dir().entryList(QDir::Files | QDir::Hidden) ==
                    QStringList{u"store.json"_s})
            << "a temporary file was left behind";
    }

    add(u"once there is room"_s);
    ASSERT_TRUE(store->save());
    EXPECT_EQ(readFile(storePath), store->encoded());
    EXPECT_FALSE(store->saveError());
}

// Copies 50 ms apart never leave the half-second lull the save waits for;
// the cap on the wait still saves them while they keep coming.
TEST_F(ClipStorePersistenceTest, AStreamOfChangesIsSavedWhileItLasts) {
    openStore();
    store->setSaveDelay(500ms, 1s);
    QSignalSpy saves(store.get(), &ClipStore::saveFinished);
    int copies = 0;
    int copiesAtFirstSave = -1;
    QObject::connect(store.get(), &ClipStore::saveFinished, store.get(), [&] {
        if (copiesAtFirstSave == -1)
            copiesAtFirstSave = copies;
    });
    QTimer stream;
    QObject::connect(&stream, &QTimer::timeout, store.get(), [&] {
        store->record(u"copy %1"_s.arg(++copies));
        if (copies == 60)
            stream.stop();
    });
    stream.start(50ms);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !stream.isActive(); }, 20000));
    EXPECT_GE(saves.count(), 1) << "nothing saved during three seconds of copies";
    EXPECT_LT(copiesAtFirstSave, 60);
    ASSERT_TRUE(store->save());
    EXPECT_TRUE(readFile(storePath).contains("copy 60"));
}

// The write runs on a thread of its own from a snapshot: changes made
// meanwhile are neither half in the file nor lost, and writes land in order.
TEST_F(ClipStorePersistenceTest, SavesWriteTheStateTheyWereGivenInOrder) {
    openStore();
    QSignalSpy saves(store.get(), &ClipStore::saveFinished);
    QList<QByteArray> states;
    for (int i = 0; i < 20; ++i) {
        store->record(QString(10000, QChar(u'a' + i)));
        states.append(store->encoded());
        store->saveSoon();
    }
    store->record(u"after the last write"_s);
    ASSERT_TRUE(saves.wait(5000));
    EXPECT_TRUE(saves.first().first().toBool());
    const QByteArray written = readFile(storePath);
    EXPECT_TRUE(states.contains(written)) << "a file no snapshot had";
    EXPECT_TRUE(store->isSavePending()) << "the later change still waits for its lull";

    // The newest snapshot wins, whatever was still queued.
    store->saveSoon();
    const QByteArray last = store->encoded();
    ASSERT_TRUE(store->save());
    EXPECT_EQ(readFile(storePath), last);
    // save() waited for every write: their notifications are all posted by
    // now, and delivering them must bring no older snapshot back.
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(readFile(storePath), last);
}

// At quit the store is saved and then destroyed: no write may be cut short.
TEST_F(ClipStorePersistenceTest, AWriteStillQueuedAtTheEndIsCompleted) {
    openStore();
    for (int i = 0; i < 200; ++i)
        store->record(u"clip %1 "_s.arg(i).repeated(200));
    store->saveSoon();
    const QByteArray expected = store->encoded();
    store.reset();
    EXPECT_EQ(readFile(storePath), expected);
}

TEST_F(ClipStorePersistenceTest, AFileTooLargeToBeOursIsSetAsideUnread) {
    ASSERT_TRUE(QDir().mkpath(QFileInfo(storePath).absolutePath()));
    {
        QFile file(storePath);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(ClipStore::kMaxStoreBytes + 1)); // sparse: no disk used
    }
    openStore();
    EXPECT_TRUE(store->history().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(storePath));
    EXPECT_EQ(QFileInfo(storePath + kDamagedSuffix).size(), ClipStore::kMaxStoreBytes + 1);
    ASSERT_EQ(log.lines.size(), 1);
    EXPECT_TRUE(log.lines.first().contains(u"512 MiB"_s));
}
