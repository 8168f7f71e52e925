#include "X11TestEnv.h"

#include "platform/Workspace.h"
#include "platform/x11/X11Parts.h"
#include "support/TempXdg.h"

#include <QDir>
#include <QFile>
#include <QWidget>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

using X11TestEnv::waitUntil;

namespace {
QString frontWindowClass(Workspace& workspace) {
    const auto app = workspace.frontmost();
    return app ? app->windowClass : QString();
}
} // namespace

class X11WorkspaceTest : public ::testing::Test {
protected:
    X11WorkspaceTest() {
        // Only the desktop entries a case writes count, none of the system's.
        m_savedDataDirs = qgetenv("XDG_DATA_DIRS");
        qputenv("XDG_DATA_DIRS", xdg.path(u"none"_s).toUtf8());
        QDir().mkpath(xdg.path(u"data/applications"_s));
        desktop = X11Parts::open(false);
    }
    ~X11WorkspaceTest() override { qputenv("XDG_DATA_DIRS", m_savedDataDirs); }

    void writeEntry(const QString& fileName, const QByteArray& extraKeys) {
        QFile file(xdg.path(u"data/applications/"_s + fileName));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[Desktop Entry]\nType=Application\nName=Some App\nExec=true\n" + extraKeys);
    }

    // A helper window with the given class, once the window manager made it active.
    std::unique_ptr<TestClient> activeWindow(const QString& windowClass) {
        auto client = TestClient::helper({u"window"_s, u"--class"_s, windowClass});
        const quint64 window = client->window();
        EXPECT_TRUE(waitUntil([&] {
            const auto app = workspace().frontmost();
            return app && app->window == window;
        }));
        return client;
    }

    Workspace& workspace() { return desktop->workspace(); }

    TempXdg xdg;
    std::unique_ptr<X11Parts> desktop;

private:
    QByteArray m_savedDataDirs;
};

TEST_F(X11WorkspaceTest, ReportsTheActiveWindowAndItsProcess) {
    ASSERT_TRUE(desktop);
    auto client = activeWindow(u"NotesClass"_s);
    const auto app = workspace().frontmost();
    ASSERT_TRUE(app.has_value());
    EXPECT_EQ(app->pid, client->pid());
    EXPECT_EQ(app->windowClass, u"NotesClass"_s);
    EXPECT_EQ(app->windowInstance, u"tindrel_x11_helper"_s);
    EXPECT_EQ(app->appId, u"NotesClass"_s);
    EXPECT_FALSE(app->isOwnProcess);
    EXPECT_TRUE(workspace().isTrusted());
}

TEST_F(X11WorkspaceTest, NamesTheApplicationByItsDesktopEntryWhenOneIsFound) {
    struct Case {
        const char* name;
        const char* property; // set on the window with xprop, or null
        const char* value;
        const char* entryFile; // a desktop entry to install, or null
        const char* entryKeys;
        const char* expected;
    };
    const Case cases[] = {
        // The window's own claim wins over a matching entry.
        {"gtk application id", "_GTK_APPLICATION_ID", "org.example.Gtk",
         "org.example.Notes.desktop", "StartupWMClass=NotesClass\n", "org.example.Gtk"},
        {"kde desktop file", "_KDE_NET_WM_DESKTOP_FILE", "org.example.Kde", nullptr, "",
         "org.example.Kde"},
        {"startup class", nullptr, nullptr, "org.example.Notes.desktop",
         "StartupWMClass=NotesClass\n", "org.example.Notes"},
        {"file named like the class", nullptr, nullptr, "notesclass.desktop", "", "notesclass"},
        {"entry for another class", nullptr, nullptr, "org.example.Other.desktop",
         "StartupWMClass=Other\n", "NotesClass"},
        {"no entry", nullptr, nullptr, nullptr, "", "NotesClass"},
    };
    ASSERT_TRUE(desktop);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(xdg.path(u"data/applications"_s))
            .removeRecursively(); // a fresh set of entries per case
        QDir().mkpath(xdg.path(u"data/applications"_s));
        if (c.entryFile)
            writeEntry(QString::fromLatin1(c.entryFile), c.entryKeys);
        auto client = activeWindow(u"NotesClass"_s);
        if (c.property) {
            ASSERT_TRUE(X11TestEnv::run(
                u"xprop"_s, {u"-id"_s, QString::number(client->window()), u"-f"_s,
                             QString::fromLatin1(c.property), u"8u"_s, u"-set"_s,
                             QString::fromLatin1(c.property), QString::fromLatin1(c.value)}));
        }
        const auto app = workspace().frontmost();
        ASSERT_TRUE(app.has_value());
        EXPECT_EQ(app->appId, QString::fromLatin1(c.expected));
    }
}

TEST_F(X11WorkspaceTest, ActivatesARecordedWindow) {
    ASSERT_TRUE(desktop);
    auto first = activeWindow(u"First"_s);
    const auto recorded = workspace().frontmost();
    ASSERT_TRUE(recorded.has_value());
    auto second = activeWindow(u"Second"_s);
    ASSERT_EQ(frontWindowClass(workspace()), u"Second"_s);

    EXPECT_TRUE(workspace().activate(*recorded));
    EXPECT_TRUE(waitUntil([&] { return frontWindowClass(workspace()) == u"First"_s; }));
}

TEST_F(X11WorkspaceTest, RecognisesOurOwnWindow) {
    ASSERT_TRUE(desktop);
    QWidget ours;
    ours.resize(200, 100);
    ours.show();
    ours.activateWindow();
    const quint64 id = ours.winId();
    ASSERT_TRUE(waitUntil([&] {
        const auto app = workspace().frontmost();
        return app && app->window == id;
    }));
    EXPECT_TRUE(workspace().frontmost()->isOwnProcess);
}
