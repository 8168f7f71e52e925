#include "platform/xdg/IniSettingsStore.h"
#include "platform/xdg/XdgPaths.h"
#include "support/TempXdg.h"

#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

TEST(IniSettingsStore, KeepsValuesAcrossInstancesInAPrivateFile) {
    TempXdg xdg;
    const QString path = XdgPaths::settingsFile();
    EXPECT_EQ(path, xdg.path(u"config/Tindrel/Tindrel.conf"_s));
    {
        IniSettingsStore store(path);
        store.setValue(u"historyLimit"_s, 250);
        store.setValue(u"syncDeviceName"_s, u"Desk ü"_s);
        store.sync();
    }
    IniSettingsStore again(path);
    // The INI backend hands scalars back as text; readers convert.
    EXPECT_EQ(again.value(u"historyLimit"_s).toInt(), 250);
    EXPECT_EQ(again.value(u"syncDeviceName"_s).toString(), u"Desk ü"_s);
    EXPECT_FALSE(again.value(u"missing"_s).isValid());

    EXPECT_EQ(QFileInfo(path).permissions() & (QFile::ReadGroup | QFile::ReadOther), 0);
    EXPECT_EQ(QFileInfo(QFileInfo(path).absolutePath()).permissions() &
                  (QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther),
              0);
}

TEST(IniSettingsStore, DefaultsAreNotWrittenAndRemoveRestoresThem) {
    TempXdg xdg;
    IniSettingsStore store(XdgPaths::settingsFile());
    store.registerDefaults({{u"pollInterval"_s, 0.4}});
    EXPECT_FALSE(store.contains(u"pollInterval"_s));
    EXPECT_DOUBLE_EQ(store.valueOrDefault(u"pollInterval"_s).toDouble(), 0.4);
    store.setValue(u"pollInterval"_s, 1.5);
    EXPECT_DOUBLE_EQ(store.valueOrDefault(u"pollInterval"_s).toDouble(), 1.5);
    store.remove(u"pollInterval"_s);
    EXPECT_DOUBLE_EQ(store.valueOrDefault(u"pollInterval"_s).toDouble(), 0.4);
}
