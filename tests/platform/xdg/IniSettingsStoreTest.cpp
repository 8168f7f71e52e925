#include "platform/xdg/IniSettingsStore.h"
#include "platform/xdg/XdgPaths.h"
#include "support/TempXdg.h"

#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

TEST(IniSettingsStore, KeepsValuesAcrossInstancesInAPrivateFile) {
    TempXdg xdg;
    const QString path = XdgPaths::settingsFile();
    EXPECT_EQ(path, xdg.path(QStringLiteral("config/Tindrel/Tindrel.conf")));
    {
        IniSettingsStore store(path);
        store.setValue(QStringLiteral("historyLimit"), 250);
        store.setValue(QStringLiteral("syncDeviceName"), QStringLiteral("Desk ü"));
        store.sync();
    }
    IniSettingsStore again(path);
    // The INI backend hands scalars back as text; readers convert.
    EXPECT_EQ(again.value(QStringLiteral("historyLimit")).toInt(), 250);
    EXPECT_EQ(again.value(QStringLiteral("syncDeviceName")).toString(), QStringLiteral("Desk ü"));
    EXPECT_FALSE(again.value(QStringLiteral("missing")).isValid());

    EXPECT_EQ(QFileInfo(path).permissions() & (QFile::ReadGroup | QFile::ReadOther), 0);
    EXPECT_EQ(QFileInfo(QFileInfo(path).absolutePath()).permissions() &
                  (QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther),
              0);
}

TEST(IniSettingsStore, DefaultsAreNotWrittenAndRemoveRestoresThem) {
    TempXdg xdg;
    IniSettingsStore store(XdgPaths::settingsFile());
    store.registerDefaults({{QStringLiteral("pollInterval"), 0.4}});
    EXPECT_FALSE(store.contains(QStringLiteral("pollInterval")));
    EXPECT_DOUBLE_EQ(store.valueOrDefault(QStringLiteral("pollInterval")).toDouble(), 0.4);
    store.setValue(QStringLiteral("pollInterval"), 1.5);
    EXPECT_DOUBLE_EQ(store.valueOrDefault(QStringLiteral("pollInterval")).toDouble(), 1.5);
    store.remove(QStringLiteral("pollInterval"));
    EXPECT_DOUBLE_EQ(store.valueOrDefault(QStringLiteral("pollInterval")).toDouble(), 0.4);
}
