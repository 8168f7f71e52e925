#include "core/sync/SyncPeerStore.h"
#include "platform/xdg/IniSettingsStore.h"
#include "platform/xdg/XdgPaths.h"
#include "support/FakeClock.h"
#include "support/LogCapture.h"
#include "support/MemorySettingsStore.h"
#include "support/TempXdg.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {
const QString peersKey = u"syncPeers"_s;
const QString damagedKey = u"syncPeersDamaged"_s;

QString keyText(char fill) {
    return QString::fromLatin1(QByteArray(32, fill).toBase64());
}

SyncDevice device(const char* id, const char* name, char key = 'k') {
    return SyncDevice{QLatin1String(id), QLatin1String(name), keyText(key), {}, {}, {}};
}

QJsonArray storedArray(const MemorySettingsStore& settings) {
    return QJsonDocument::fromJson(settings.values.value(peersKey).toByteArray()).array();
}

class SyncPeerStoreTest : public ::testing::Test {
protected:
    MemorySettingsStore settings;
    FakeClock clock;
};
} // namespace

TEST_F(SyncPeerStoreTest, UpsertReplacesInPlaceKeepingUnsetLastSeenAndEnabled) {
    SyncPeerStore store(settings, clock);
    SyncDevice a = device("A", "Laptop");
    a.lastSeen = Instant::fromReference(100.5);
    a.enabled = false;
    a.platform = u"macos"_s;
    ASSERT_TRUE(store.upsert(a));
    ASSERT_TRUE(store.upsert(device("B", "Phone")));

    ASSERT_TRUE(store.upsert(device("A", "Laptop 2", 'n')));
    ASSERT_EQ(store.peers().size(), 2);
    const SyncDevice& updated = store.peers().at(0);
    EXPECT_EQ(updated.name, u"Laptop 2"_s);
    EXPECT_EQ(updated.keyBase64, keyText('n'));
    EXPECT_EQ(updated.lastSeen, Instant::fromReference(100.5));
    EXPECT_EQ(updated.enabled, false);
    EXPECT_EQ(updated.platform, std::nullopt); // taken from the new record, even when absent

    SyncDevice again = device("A", "Laptop 3");
    again.enabled = true;
    again.lastSeen = Instant::fromReference(200.0);
    ASSERT_TRUE(store.upsert(again));
    EXPECT_EQ(store.peers().at(0).enabled, true);
    EXPECT_EQ(store.peers().at(0).lastSeen, Instant::fromReference(200.0));
    EXPECT_EQ(store.peers().at(1).id, u"B"_s);
    EXPECT_EQ(store.peer(u"B"_s)->name, u"Phone"_s);
    EXPECT_FALSE(store.peer(u"C"_s));
}

TEST_F(SyncPeerStoreTest, EveryChangeIsSavedAndFlushed) {
    SyncPeerStore store(settings, clock);
    struct Step {
        const char* name;
        std::function<void()> change;
        bool saves;
    };
    const Step steps[] = {
        {"upsert", [&] { store.upsert(device("A", "Laptop")); }, true},
        {"touch", [&] { store.touch(u"A"_s); }, true},
        {"touch unknown", [&] { store.touch(u"Z"_s); }, false},
        {"disable", [&] { store.setEnabled(false, u"A"_s); }, true},
        {"disable unknown", [&] { store.setEnabled(false, u"Z"_s); }, false},
        {"remove unknown", [&] { store.remove(u"Z"_s); }, true},
    };
    for (const Step& step : steps) {
        const int writes = settings.writes;
        const int syncs = settings.syncs;
        step.change();
        EXPECT_EQ(settings.writes > writes, step.saves) << step.name;
        EXPECT_EQ(settings.syncs > syncs, step.saves) << step.name;
        SyncPeerStore reloaded(settings, clock);
        EXPECT_EQ(reloaded.peers(), store.peers()) << step.name;
    }
    EXPECT_EQ(store.peers().at(0).lastSeen, clock.now());
    EXPECT_FALSE(store.peers().at(0).isEnabled());
}

TEST_F(SyncPeerStoreTest, StoresTheAgreedJsonShape) {
    SyncPeerStore store(settings, clock);
    SyncDevice a = device("A", "Laptop");
    a.lastSeen = Instant::fromReference(700000000.125);
    a.platform = u"linux"_s;
    a.enabled = false;
    store.upsert(a);
    store.upsert(device("B", "Phone"));

    const QJsonArray array = storedArray(settings);
    ASSERT_EQ(array.size(), 2);
    const QJsonObject first = array.at(0).toObject();
    EXPECT_EQ(first.value(QLatin1String("keyBase64")).toString(), keyText('k'));
    EXPECT_EQ(first.value(QLatin1String("lastSeen")).toDouble(), 700000000.125); // from 2001
    EXPECT_EQ(first.value(QLatin1String("platform")).toString(), u"linux"_s);
    EXPECT_EQ(first.value(QLatin1String("enabled")), QJsonValue(false));
    EXPECT_EQ(array.at(1).toObject().keys(), (QStringList{u"id"_s, u"keyBase64"_s, u"name"_s}));
}

TEST_F(SyncPeerStoreTest, RemoveDropsEveryCopyAndKeepsOrder) {
    QJsonArray stored;
    for (const char* id : {"A", "B", "A", "C"})
        stored.append(device(id, "n").toJson());
    settings.values.insert(peersKey, QJsonDocument(stored).toJson());
    SyncPeerStore store(settings, clock);
    ASSERT_EQ(store.peers().size(), 4);
    EXPECT_TRUE(store.peers().at(0).isEnabled()); // no "enabled" stored means on
    store.remove(u"A"_s);
    ASSERT_EQ(store.peers().size(), 2);
    EXPECT_EQ(store.peers().at(0).id, u"B"_s);
    EXPECT_EQ(store.peers().at(1).id, u"C"_s);
}

TEST_F(SyncPeerStoreTest, RefusesDevicesItCouldNeverTalkTo) {
    SyncPeerStore store(settings, clock);
    struct Case {
        const char* name;
        SyncDevice device;
    };
    SyncDevice shortKey = device("S", "n");
    shortKey.keyBase64 = QString::fromLatin1(QByteArray(16, 'k').toBase64());
    SyncDevice badKey = device("K", "n");
    badKey.keyBase64 = u"not base64!"_s;
    const Case cases[] = {
        {"short key", shortKey},
        {"bad key", badKey},
        {"empty id", device("", "n")},
        {"long id", SyncDevice{QString(65, u'i'), u"n"_s, keyText('k'), {}, {}, {}}},
    };
    for (const Case& c : cases) {
        const int writes = settings.writes;
        EXPECT_FALSE(store.upsert(c.device)) << c.name;
        EXPECT_EQ(settings.writes, writes) << c.name;
    }
    EXPECT_TRUE(store.peers().isEmpty());

    // A known device cannot be given an unusable key either.
    ASSERT_TRUE(store.upsert(device("S", "n")));
    EXPECT_FALSE(store.upsert(shortKey));
    EXPECT_EQ(store.peers().at(0).keyBase64, keyText('k'));
}

TEST_F(SyncPeerStoreTest, HoldsAtMostSixtyFourDevices) {
    SyncPeerStore store(settings, clock);
    for (int i = 0; i < 64; ++i)
        ASSERT_TRUE(store.upsert(device(QByteArray::number(i).constData(), "n")));
    EXPECT_FALSE(store.upsert(device("new", "n")));
    EXPECT_TRUE(store.upsert(device("7", "renamed"))); // replacing still works
    EXPECT_EQ(store.peers().size(), 64);
}

TEST_F(SyncPeerStoreTest, CleansNamesFromOtherDevices) {
    SyncPeerStore store(settings, clock);
    SyncDevice d = device("A", "");
    d.name = u"Phone\n\u202E"_s + QString(150, u'x');
    store.upsert(d);
    EXPECT_EQ(store.peers().at(0).name, u"Phone"_s + QString(95, u'x'));
}

TEST_F(SyncPeerStoreTest, KeepsAnUnreadableListAsideBeforeItIsOverwritten) {
    QJsonObject missingKey = device("A", "n").toJson();
    missingKey.remove(u"keyBase64"_s);
    QJsonObject wrongType = device("A", "n").toJson();
    wrongType.insert(u"enabled"_s, u"yes"_s);
    const QVariant cases[] = {
        QByteArray("not json"),
        QByteArray("{\"id\":\"A\"}"),
        QJsonDocument(QJsonArray{device("B", "n").toJson(), missingKey}).toJson(),
        QJsonDocument(QJsonArray{wrongType}).toJson(),
        QVariant(42),
    };
    for (const QVariant& raw : cases) {
        MemorySettingsStore stored;
        stored.values.insert(peersKey, raw);
        LogCapture log;
        SyncPeerStore store(stored, clock);
        EXPECT_TRUE(store.peers().isEmpty()) << raw.toString().toStdString();
        EXPECT_TRUE(log.contains(u"syncPeersDamaged"_s));
        store.upsert(device("C", "n"));
        EXPECT_EQ(stored.values.value(damagedKey), raw);
        EXPECT_EQ(storedArray(stored).size(), 1);
    }
}

TEST_F(SyncPeerStoreTest, LoadsTheUsableDevicesOfAPartlyBadList) {
    SyncDevice shortKey = device("S", "n");
    shortKey.keyBase64 = QString::fromLatin1(QByteArray(16, 'k').toBase64());
    const QByteArray raw = QJsonDocument(QJsonArray{device("A", "n").toJson(), shortKey.toJson(),
                                                    device("B", "n").toJson()})
                               .toJson();
    settings.values.insert(peersKey, raw);
    LogCapture log;
    SyncPeerStore store(settings, clock);
    ASSERT_EQ(store.peers().size(), 2);
    EXPECT_EQ(store.peers().at(1).id, u"B"_s);
    EXPECT_EQ(settings.values.value(damagedKey), raw);

    // A readable list leaves nothing aside.
    MemorySettingsStore clean;
    clean.values.insert(peersKey, QJsonDocument(QJsonArray{device("A", "n").toJson()}).toJson());
    SyncPeerStore fine(clean, clock);
    EXPECT_EQ(fine.peers().size(), 1);
    EXPECT_FALSE(clean.contains(damagedKey));
}

TEST(SyncPeerStoreIni, ReadsBackWhatItWroteThroughTheIniFile) {
    TempXdg xdg;
    FakeClock clock;
    QList<SyncDevice> written;
    {
        IniSettingsStore settings(XdgPaths::settingsFile());
        SyncPeerStore store(settings, clock);
        SyncDevice a = device("A", "Laptop, \"home\" = ü");
        a.platform = u"macos"_s;
        store.upsert(a);
        store.upsert(device("B", "Phone"));
        store.touch(u"A"_s);
        store.setEnabled(false, u"B"_s);
        written = store.peers();
    }
    IniSettingsStore settings(XdgPaths::settingsFile());
    LogCapture log;
    SyncPeerStore store(settings, clock);
    EXPECT_EQ(store.peers(), written);
    EXPECT_TRUE(log.lines.isEmpty());
}
