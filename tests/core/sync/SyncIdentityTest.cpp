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

namespace {
const QString idKey = QStringLiteral("syncDeviceId");
const QString nameKey = QStringLiteral("syncDeviceName");
const QString keyKey = QStringLiteral("syncDeviceKey");
} // namespace

TEST(SyncIdentity, CreatedOnceThenReadBack) {
    MemorySettingsStore settings;
    SyncIdentity first(settings, QStringLiteral("studio"));
    static const QRegularExpression uuid(
        QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"));
    EXPECT_TRUE(uuid.match(first.deviceId()).hasMatch()) << first.deviceId().toStdString();
    EXPECT_EQ(first.deviceKey().size(), 32);
    EXPECT_EQ(settings.values.value(idKey).toString(), first.deviceId());
    EXPECT_EQ(settings.values.value(keyKey).toString(), first.deviceKeyBase64());
    EXPECT_EQ(first.deviceKeyBase64().size(), 44);
    // The computer's name is used, not stored: it follows renames of the computer.
    EXPECT_EQ(first.deviceName(), QStringLiteral("studio"));
    EXPECT_FALSE(settings.contains(nameKey));
    EXPECT_GE(settings.syncs, 1);

    const int writes = settings.writes;
    SyncIdentity second(settings, QStringLiteral("renamed"));
    EXPECT_EQ(second.deviceId(), first.deviceId());
    EXPECT_EQ(second.deviceKey(), first.deviceKey());
    EXPECT_EQ(second.deviceName(), QStringLiteral("renamed"));
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
        {"stored wins", QStringLiteral("Desk"), QStringLiteral("studio"), QStringLiteral("Desk")},
        {"computer", std::nullopt, QStringLiteral("studio"), QStringLiteral("studio")},
        {"fallback", std::nullopt, QString(), QStringLiteral("Linux")},
        {"blank stored", QStringLiteral("  "), QStringLiteral("studio"), QStringLiteral("studio")},
        {"cleaned", QStringLiteral("Desk\r\n"), QString(), QStringLiteral("Desk")},
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
    SyncIdentity identity(settings, QStringLiteral("studio"));
    ASSERT_TRUE(identity.setDeviceName(QStringLiteral("Desk")));
    EXPECT_EQ(settings.values.value(nameKey).toString(), QStringLiteral("Desk"));

    for (const QString& empty : {QString(), QStringLiteral("   "), QStringLiteral("\n\t")}) {
        const int syncs = settings.syncs;
        EXPECT_FALSE(identity.setDeviceName(empty));
        EXPECT_EQ(identity.deviceName(), QStringLiteral("Desk"));
        EXPECT_EQ(settings.values.value(nameKey).toString(), QStringLiteral("Desk"));
        EXPECT_EQ(settings.syncs, syncs);
    }

    const int syncs = settings.syncs;
    ASSERT_TRUE(identity.setDeviceName(QStringLiteral("\u202Eevil") + QString(120, u'x')));
    EXPECT_EQ(identity.deviceName(), QStringLiteral("evil") + QString(96, u'x'));
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
        {"not base64", QStringLiteral("%%% not a key %%%"), false},
        {"same key spelled loosely",
         good.left(20) + QStringLiteral(" \n") + good.mid(20).chopped(1), true},
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
        EXPECT_EQ(log.contains(QStringLiteral("pair again")), !c.kept && !c.stored.isEmpty())
            << c.name;
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
        SyncIdentity identity(settings, QStringLiteral("studio"));
        identity.setDeviceName(QStringLiteral("Desk, \"quoted\" = ü"));
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
    SyncIdentity again(settings, QStringLiteral("studio"));
    EXPECT_EQ(again.deviceId(), id);
    EXPECT_EQ(again.deviceKey(), key);
    EXPECT_EQ(again.deviceName(), QStringLiteral("Desk, \"quoted\" = ü"));
}
