#include "core/sync/SyncIdentity.h"
#include "core/sync/SecureRandom.h"
#include "core/sync/SyncCrypto.h"
#include "platform/xdg/IniSettingsStore.h"
#include "platform/xdg/XdgPaths.h"
#include "support/MemorySettingsStore.h"
#include "support/TempXdg.h"

#include "support/LogCapture.h"
#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {
const QString idKey = u"syncDeviceId"_s;
const QString nameKey = u"syncDeviceName"_s;
const QString keyKey = u"syncDeviceKey"_s;
} // namespace

TEST(SyncIdentity, CreatedOnceThenReadBack) {
    MemorySettingsStore settings;
    SyncIdentity first(settings, u"studio"_s);
    static const QRegularExpression uuid(
        u"^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"_s);
    EXPECT_TRUE(uuid.match(first.deviceId()).hasMatch()) << first.deviceId().toStdString();
    EXPECT_EQ(first.deviceKey().size(), 32);
    EXPECT_EQ(settings.values.value(idKey).toString(), first.deviceId());
    EXPECT_EQ(settings.values.value(keyKey).toString(), first.deviceKeyBase64());
    EXPECT_EQ(first.deviceKeyBase64().size(), 44);
    // The computer's name is used, not stored: it follows renames of the computer.
    EXPECT_EQ(first.deviceName(), u"studio"_s);
    EXPECT_FALSE(settings.contains(nameKey));
    EXPECT_GE(settings.syncs, 1);

    const int writes = settings.writes;
    SyncIdentity second(settings, u"renamed"_s);
    EXPECT_EQ(second.deviceId(), first.deviceId());
    EXPECT_EQ(second.deviceKey(), first.deviceKey());
    EXPECT_EQ(second.deviceName(), u"renamed"_s);
    EXPECT_EQ(settings.writes, writes);
}

TEST(SyncIdentity, NameComesFromSettingsThenComputerThenFallback) {
    struct Case {
        const char* name;
        std::optional<QString> stored;
        QString computer;
        QString expected;
    };
    const Case cases[] = {
        {"stored wins", u"Desk"_s, u"studio"_s, u"Desk"_s},
        {"computer", std::nullopt, u"studio"_s, u"studio"_s},
        {"fallback", std::nullopt, QString(), u"Linux"_s},
        {"blank stored", u"  "_s, u"studio"_s, u"studio"_s},
        {"cleaned", u"Desk\r\n"_s, QString(), u"Desk"_s},
    };
    for (const Case& c : cases) {
        MemorySettingsStore settings;
        if (c.stored)
            settings.values.insert(nameKey, *c.stored);
        EXPECT_EQ(SyncIdentity(settings, c.computer).deviceName(), c.expected) << c.name;
    }
}

TEST(SyncIdentity, RenamingKeepsTheOldNameWhenTheNewOneIsEmpty) {
    MemorySettingsStore settings;
    SyncIdentity identity(settings, u"studio"_s);
    ASSERT_TRUE(identity.setDeviceName(u"Desk"_s));
    EXPECT_EQ(settings.values.value(nameKey).toString(), u"Desk"_s);

    for (const QString& empty : {QString(), u"   "_s, u"\n\t"_s}) {
        const int syncs = settings.syncs;
        EXPECT_FALSE(identity.setDeviceName(empty));
        EXPECT_EQ(identity.deviceName(), u"Desk"_s);
        EXPECT_EQ(settings.values.value(nameKey).toString(), u"Desk"_s);
        EXPECT_EQ(settings.syncs, syncs);
    }

    const int syncs = settings.syncs;
    ASSERT_TRUE(identity.setDeviceName(u"\u202Eevil"_s + QString(120, u'x')));
    EXPECT_EQ(identity.deviceName(), u"evil"_s + QString(96, u'x'));
    EXPECT_EQ(settings.values.value(nameKey).toString(), identity.deviceName());
    EXPECT_EQ(settings.syncs, syncs + 1);
}

TEST(SyncIdentity, ReplacesAStoredKeyThatIsNotThirtyTwoBytes) {
    const QString good = QString::fromLatin1(QByteArray(32, 'g').toBase64());
    struct Case {
        const char* name;
        QString stored;
        bool kept;
    };
    const Case cases[] = {
        {"valid", good, true},
        {"not base64", u"%%% not a key %%%"_s, false},
        {"same key spelled loosely", good.left(20) + u" \n"_s + good.mid(20).chopped(1), true},
        {"16 bytes", QString::fromLatin1(QByteArray(16, 'g').toBase64()), false},
        {"empty", QString(), false},
    };
    for (const Case& c : cases) {
        MemorySettingsStore settings;
        settings.values.insert(keyKey, c.stored);
        LogCapture log;
        SyncIdentity identity(settings, {});
        EXPECT_EQ(identity.deviceKey().size(), 32) << c.name;
        // Replacing a key the user had ends every pairing: it is said.
        EXPECT_EQ(log.contains(u"pair again"_s), !c.kept && !c.stored.isEmpty()) << c.name;
        EXPECT_EQ(identity.deviceKeyBase64() == good, c.kept) << c.name;
        EXPECT_EQ(settings.values.value(keyKey).toString(), identity.deviceKeyBase64()) << c.name;
    }
}

TEST(SyncIdentity, NoKeyIsStoredWhileTheGeneratorFails) {
    MemorySettingsStore settings;
    SecureRandom::setFailingForTesting(true);
    SyncIdentity identity(settings, {});
    EXPECT_TRUE(identity.deviceKey().isEmpty());
    EXPECT_FALSE(settings.contains(keyKey));
    SecureRandom::setFailingForTesting(false);

    const QByteArray key = identity.deviceKey();
    EXPECT_EQ(key.size(), 32);
    EXPECT_EQ(SyncCrypto::decodeKey(settings.values.value(keyKey).toString()), key);
}

TEST(SyncIdentity, SurvivesTheIniFile) {
    TempXdg xdg;
    QString id;
    QByteArray key;
    {
        IniSettingsStore settings(XdgPaths::settingsFile());
        SyncIdentity identity(settings, u"studio"_s);
        identity.setDeviceName(u"Desk, \"quoted\" = ü"_s);
        id = identity.deviceId();
        key = identity.deviceKey();
        // On disk already, before any orderly shutdown: a crash now must
        // not make us hand peers a different key next time.
        QFile file(XdgPaths::settingsFile());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray onDisk = file.readAll();
        EXPECT_TRUE(onDisk.contains(identity.deviceKeyBase64().toLatin1()));
        EXPECT_TRUE(onDisk.contains(id.toLatin1()));
        EXPECT_TRUE(onDisk.contains("syncDeviceName"));
    }
    IniSettingsStore settings(XdgPaths::settingsFile());
    SyncIdentity again(settings, u"studio"_s);
    EXPECT_EQ(again.deviceId(), id);
    EXPECT_EQ(again.deviceKey(), key);
    EXPECT_EQ(again.deviceName(), u"Desk, \"quoted\" = ü"_s);
}
