#include "platform/xdg/DesktopEntryIndex.h"
#include "support/QtPrinters.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

class DesktopEntryIndexTest : public ::testing::Test {
protected:
    // Two data folders; the first (the user's) takes precedence.
    DesktopEntryIndexTest() : index({root.filePath(u"user"_s), root.filePath(u"system"_s)}) {}

    void write(const QString& relativePath, const QByteArray& body) {
        const QString path = root.filePath(relativePath);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(body);
    }
    static QByteArray entry(const QByteArray& name, const QByteArray& extra = {}) {
        return "[Desktop Entry]\nType=Application\nName=" + name + "\nName[de]=Lokal\nExec=x\n" +
               extra;
    }
    QString idFor(const QString& wmInstance, const QString& wmClass) {
        return index.applicationId({}, {}, wmInstance, wmClass);
    }

    QTemporaryDir root;
    DesktopEntryIndex index;
};

TEST_F(DesktopEntryIndexTest, FindsTheEntryOfAWindow) {
    write(u"system/org.example.Notes.desktop"_s, entry("Notes", "StartupWMClass=NotesWindow\n"));
    write(u"system/firefox-esr.desktop"_s, entry("Firefox"));
    write(u"system/kde4/kate.desktop"_s, entry("Kate"));
    write(u"system/helper.desktop"_s, entry("Helper", "StartupWMClass=Navigator\n"));
    write(u"system/debian-xterm.desktop"_s, entry("XTerm", "StartupWMClass=XTerm\n"));
    write(u"system/a-term.desktop"_s, entry("Term", "StartupWMClass=TERM\n"));
    write(u"system/b-term.desktop"_s, entry("term", "StartupWMClass=term\n"));
    struct Case {
        const char* instance;
        const char* windowClass;
        const char* expected;
    };
    const Case cases[] = {
        {"notes", "NotesWindow", "org.example.Notes"}, // StartupWMClass
        {"Navigator", "Other", "helper"},              // StartupWMClass, by instance
        {"Navigator", "Firefox-esr", "firefox-esr"},   // the class comes first
        {"kate", "kde4-kate", "kde4-kate"},            // subfolder joins the id
        // KWin reports X11 classes in lower case; the app keeps its id.
        {"xterm", "xterm", "debian-xterm"},
        {"xterm", "XTerm", "debian-xterm"},
        {"navigator", "other", "helper"},
        {"x", "term", "b-term"}, // the exact spelling first
        {"x", "Term", "a-term"},
        {"unknown", "UnknownClass", "UnknownClass"}, // no entry: the class
        {"onlyinstance", "", "onlyinstance"},
        {"", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.windowClass);
        EXPECT_EQ(idFor(QLatin1String(c.instance), QLatin1String(c.windowClass)),
                  QLatin1String(c.expected));
    }
    // A claim the window makes itself wins, with or without the suffix.
    EXPECT_EQ(index.applicationId(u"org.gnome.Gtk"_s, u"org.kde.k.desktop"_s, u"notes"_s,
                                  u"NotesWindow"_s),
              u"org.gnome.Gtk"_s);
    EXPECT_EQ(index.applicationId({}, u"/usr/share/applications/org.kde.k.desktop"_s, {}, {}),
              u"org.kde.k"_s);
}

TEST_F(DesktopEntryIndexTest, UserEntriesHideSystemOnesAndChangesAreSeen) {
    write(u"system/org.example.App.desktop"_s, entry("System App", "StartupWMClass=App\n"));
    write(u"system/org.example.Gone.desktop"_s, entry("Gone", "StartupWMClass=Gone\n"));
    write(u"system/org.example.Quiet.desktop"_s, entry("Quiet", "NoDisplay=true\n"));
    write(u"system/org.example.Link.desktop"_s,
          "[Desktop Entry]\nType=Link\nName=Link\nURL=https://example.org\n");
    write(u"user/org.example.App.desktop"_s, entry("My App\\sEdition", "Icon=my-app\n"));
    write(u"user/org.example.Gone.desktop"_s, "[Desktop Entry]\nHidden=true\n");

    EXPECT_EQ(index.apps(),
              (QList<InstalledApp>{{u"org.example.App"_s, u"My App Edition"_s, u"my-app"_s}}));
    // The user's copy has no StartupWMClass; a hidden entry matches nothing.
    EXPECT_EQ(idFor(u"app"_s, u"App"_s), u"App"_s);
    EXPECT_EQ(idFor(u"gone"_s, u"Gone"_s), u"Gone"_s);
    // Not listed, but still names its windows.
    EXPECT_EQ(idFor(u"quiet"_s, u"org.example.Quiet"_s), u"org.example.Quiet"_s);

    // A newly installed application is found without a restart.
    write(u"system/org.example.New.desktop"_s, entry("A New One", "StartupWMClass=NewWin\n"));
    EXPECT_EQ(idFor(u"new"_s, u"NewWin"_s), u"org.example.New"_s);
    EXPECT_EQ(index.apps().first().name, u"A New One"_s);
}

TEST_F(DesktopEntryIndexTest, ReadsOnlyTheMainGroup) {
    write(u"system/org.example.Actions.desktop"_s,
          "# comment\n[Desktop Action new]\nName=Action\nStartupWMClass=Wrong\n"
          "[Desktop Entry]\nType=Application\nName=Real\nStartupWMClass=Right\n"
          "[Desktop Action other]\nStartupWMClass=Wrong2\n");
    EXPECT_EQ(idFor({}, u"Right"_s), u"org.example.Actions"_s);
    EXPECT_EQ(idFor({}, u"Wrong"_s), u"Wrong"_s);
    EXPECT_EQ(idFor({}, u"Wrong2"_s), u"Wrong2"_s);
}
