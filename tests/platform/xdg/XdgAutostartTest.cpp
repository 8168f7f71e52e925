#include "platform/xdg/XdgAutostart.h"
#include "core/prefs/Preferences.h"
#include "support/MemorySettingsStore.h"
#include "support/QtPrinters.h"
#include "support/TempXdg.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {
QString readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

void writeFile(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
}
} // namespace

TEST(XdgAutostart, EnablingWritesTheEntryAndDisablingRemovesIt) {
    TempXdg xdg;
    const QString path = xdg.path(u"config/autostart/io.tindrel.Tindrel.desktop"_s);
    EXPECT_EQ(XdgAutostart::defaultEntryPath(), path);
    XdgAutostart autostart(path, u"/opt/Tin drel/bin/tindrel"_s);
    EXPECT_FALSE(autostart.isEnabled());

    EXPECT_EQ(autostart.setEnabled(true), std::nullopt);
    EXPECT_TRUE(autostart.isEnabled());
    const QString entry = readAll(path);
    EXPECT_TRUE(entry.startsWith(u"[Desktop Entry]\n"_s)) << entry.toStdString();
    EXPECT_TRUE(entry.contains(u"\nType=Application\n"_s));
    EXPECT_TRUE(entry.contains(u"\nExec=\"/opt/Tin drel/bin/tindrel\"\n"_s));

    EXPECT_EQ(autostart.setEnabled(false), std::nullopt);
    EXPECT_FALSE(QFileInfo::exists(path));
    EXPECT_FALSE(autostart.isEnabled());
    EXPECT_EQ(autostart.setEnabled(false), std::nullopt); // nothing left to remove
}

TEST(XdgAutostart, AnEntryMarkedHiddenCountsAsDisabled) {
    struct Case {
        const char* content;
        bool enabled;
    };
    const Case cases[] = {
        {"[Desktop Entry]\nType=Application\nExec=tindrel\n", true},
        {"[Desktop Entry]\nExec=tindrel\nHidden=true\n", false},
        {"[Desktop Entry]\nHidden = true \n", false},
        {"[Desktop Entry]\nHidden=false\n", true},
        {"[Desktop Entry]\n# Hidden=true\n", true},
        {"[Desktop Entry]\nX-Hidden=true\n", true},
        {"[Desktop Entry]\nExec=tindrel\n[Desktop Action quit]\nHidden=true\n", true},
        {"", true},
    };
    TempXdg xdg;
    const QString path = xdg.path(u"config/autostart/io.tindrel.Tindrel.desktop"_s);
    XdgAutostart autostart(path, u"/usr/bin/tindrel"_s);
    for (const Case& c : cases) {
        writeFile(path, c.content);
        EXPECT_EQ(autostart.isEnabled(), c.enabled) << c.content;
    }

    // Enabling replaces a hidden entry with an active one.
    writeFile(path, "[Desktop Entry]\nExec=tindrel\nHidden=true\n");
    EXPECT_EQ(autostart.setEnabled(true), std::nullopt);
    EXPECT_TRUE(autostart.isEnabled());
}

TEST(XdgAutostart, QuotesAndEscapesTheProgramPath) {
    struct Case {
        const char16_t* program;
        const char16_t* exec;
    };
    const Case cases[] = {
        {u"/usr/bin/tindrel", u"/usr/bin/tindrel"},
        {u"/home/ü/bin/tindrel", u"/home/ü/bin/tindrel"},
        {u"/opt/my apps/tindrel", u"\"/opt/my apps/tindrel\""},
        {u"/opt/$HOME/tindrel", u"\"/opt/\\\\$HOME/tindrel\""},
        {u"/opt/a\"b/tindrel", u"\"/opt/a\\\\\"b/tindrel\""},
        {u"/opt/back\\slash", u"\"/opt/back\\\\\\\\slash\""},
        {u"/opt/100%/tindrel", u"/opt/100%%/tindrel"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(XdgAutostart::execValue(QString::fromUtf16(c.program)),
                  QString::fromUtf16(c.exec));
}

// Root ignores permission bits, so the failures are provoked by a file or a
// folder standing where the other is needed.
TEST(XdgAutostart, FailuresGiveAnErrorTextThatPreferencesShows) {
    TempXdg xdg;
    writeFile(xdg.path(u"config/autostart"_s), "not a folder");
    const QString path = xdg.path(u"config/autostart/io.tindrel.Tindrel.desktop"_s);
    XdgAutostart autostart(path, u"/usr/bin/tindrel"_s);

    const auto error = autostart.setEnabled(true);
    ASSERT_TRUE(error.has_value());
    EXPECT_TRUE(error->contains(xdg.path(u"config/autostart"_s))) << error->toStdString();
    EXPECT_FALSE(autostart.isEnabled());

    MemorySettingsStore store;
    Preferences prefs(store, &autostart);
    prefs.setLaunchAtLogin(true);
    EXPECT_TRUE(prefs.launchAtLogin());
    EXPECT_EQ(prefs.launchAtLoginError(), *error);

    TempXdg other;
    const QString folderInTheWay = other.path(u"config/autostart/io.tindrel.Tindrel.desktop"_s);
    writeFile(folderInTheWay + u"/inside"_s, "x");
    const auto removeError = XdgAutostart(folderInTheWay, u"/usr/bin/tindrel"_s).setEnabled(false);
    ASSERT_TRUE(removeError.has_value());
    EXPECT_TRUE(removeError->startsWith(u"Could not remove "_s)) << removeError->toStdString();
}
