#include "GnomeSession.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QScopeGuard>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {
const QString kUuid = u"tindrel@tindrel.io"_s;
} // namespace

// The real tindrel under GNOME Shell with our extension: what it finds, the
// shortcut the extension binds, a first start where nothing else would show
// it, and copies in an ignored native app.
class TindrelOnGnomeTest : public GnomeTindrelTest {
protected:
    void TearDown() override {
        GnomeTindrelTest::TearDown();
        // The next case finds the extension as the fixture left it.
        if (!IsSkipped() && m_turnedOff)
            setExtension(true);
    }

    // Turns our extension off or on through the Shell, as its own settings do.
    bool setExtension(bool on) {
        QDBusConnection bus = QDBusConnection::connectToBus(session.busAddress, u"gnome-case"_s);
        const auto done = qScopeGuard([] { QDBusConnection::disconnectFromBus(u"gnome-case"_s); });
        QDBusMessage call = QDBusMessage::createMethodCall(
            u"org.gnome.Shell"_s, u"/org/gnome/Shell"_s, u"org.gnome.Shell.Extensions"_s,
            on ? u"EnableExtension"_s : u"DisableExtension"_s);
        call << kUuid;
        const QDBusMessage answer = bus.call(call, QDBus::Block, 10000);
        if (!on)
            m_turnedOff = true;
        return answer.type() == QDBusMessage::ReplyMessage && answer.arguments().value(0).toBool();
    }

private:
    bool m_turnedOff = false;
};

TEST_F(TindrelOnGnomeTest, TheExtensionBindsTheShortcutThatOpensThePanel) {
    start();
    EXPECT_TRUE(log().contains(u"; desktop: GNOME"_s)) << log().toStdString();
    ASSERT_TRUE(waitUntil([&] {
        return log().contains(u"the GNOME Shell extension binds our shortcuts"_s);
    })) << log().toStdString()
        << shellLog().toStdString();
    ASSERT_FALSE(tindrelWindowShown());
    // Bound by the time the extension answered: pressed once, it opens.
    ASSERT_TRUE(waitUntil([&] { return !log().contains(u"not bound"_s); }));
    ASSERT_TRUE(pressKeys(u"ctrl+alt+v"_s));
    ASSERT_TRUE(waitUntil([&] { return tindrelWindowShown(); })) << log().toStdString();
    ASSERT_TRUE(pressKeys(u"ctrl+alt+v"_s));
    ASSERT_TRUE(waitUntil([&] { return !tindrelWindowShown(); })) << log().toStdString();
    // A shortcut and the extension's icon open it here: the start, which
    // looks a few seconds after it began, leaves it closed.
    QTest::qWait(4000);
    EXPECT_FALSE(tindrelWindowShown());
    EXPECT_FALSE(log().contains(u"opening it"_s)) << log().toStdString();
}

TEST_F(TindrelOnGnomeTest, WithoutTheExtensionTheFirstStartShowsThePanelAndSaysWhy) {
    ASSERT_TRUE(setExtension(false));
    start();
    EXPECT_TRUE(waitUntil([&] { return tindrelWindowShown(); })) << log().toStdString();
    EXPECT_TRUE(log().contains(u"no tray icon and no shortcut opens the panel here"_s))
        << log().toStdString();
    EXPECT_TRUE(log().contains(u"Tindrel's GNOME Shell extension is turned off "
                               "(gnome-extensions enable tindrel@tindrel.io)"_s))
        << log().toStdString();
}

TEST_F(TindrelOnGnomeTest, CopiesInAnIgnoredNativeAppAreNotRecorded) {
    start("pollInterval=0.1\nignoredApps=io.tindrel.TestField\n");
    ASSERT_TRUE(waitUntil([&] {
        return log().contains(u"the GNOME Shell extension binds our shortcuts"_s);
    })) << log().toStdString();
    // Copied inside each app with its own keys, the ignored one first; each
    // stays open, in front, until its copy has reached X programs (and so
    // Tindrel, which reads the clipboard there).
    for (const QString& app : {u"io.tindrel.TestField"_s, u"io.tindrel.TestOther"_s}) {
        QProcess& field = client(QStringLiteral(TINDREL_WAYLAND_TEXT_FIELD), {app});
        QByteArray out;
        ASSERT_TRUE(waitUntil([&] {
            out += field.readAllStandardOutput();
            return out.contains("focused");
        }));
        // Lower case: the keys are pressed without Shift.
        const QString text = u"copied in "_s + app.section(u'.', -1).toLower();
        for (const QChar c : text)
            ASSERT_TRUE(pressKeys(c == u' ' ? u"space"_s : QString(c)));
        ASSERT_TRUE(pressKeys(u"ctrl+a"_s));
        ASSERT_TRUE(pressKeys(u"ctrl+c"_s));
        ASSERT_TRUE(waitUntil([&] {
            QProcess xclip;
            xclip.setProcessEnvironment(session.environment());
            xclip.start(u"xclip"_s, {u"-o"_s, u"-selection"_s, u"clipboard"_s});
            return xclip.waitForFinished(5000) && xclip.readAll() == text.toUtf8();
        }));
    }
    // Recorded after both: had the first been taken, it would be listed by now.
    ASSERT_TRUE(recorded(u"copied in testother"_s)) << log().toStdString();
    const QString list = command({u"list"_s});
    EXPECT_FALSE(list.contains(u"copied in testfield"_s)) << list.toStdString();
}

// The clipboard is XWayland's here, and mutter keeps it in step with
// Wayland's: copies of X11 clients are recorded, and a clip chosen from the
// history reaches Wayland and X11 clients alike.
TEST_F(TindrelOnGnomeTest, AnX11CopyIsRecordedAndAChosenClipReachesEveryClient) {
    start("pollInterval=0.1\n");
    QProcess& xclip = client(u"xclip"_s, {u"-quiet"_s, u"-selection"_s, u"clipboard"_s});
    xclip.write("copied by an X11 client");
    xclip.closeWriteChannel();
    ASSERT_TRUE(recorded(u"copied by an X11 client"_s)) << log().toStdString();
    command({u"add"_s, u"added later"_s});
    ASSERT_TRUE(recorded(u"added later"_s));

    command({u"copy"_s, u"2"_s});
    EXPECT_TRUE(waitUntil([&] {
        return output(u"xclip"_s, {u"-o"_s, u"-selection"_s, u"clipboard"_s}) ==
               u"copied by an X11 client"_s;
    }));
    EXPECT_TRUE(waitUntil([&] {
        return output(u"wl-paste"_s, {u"--no-newline"_s}) == u"copied by an X11 client"_s;
    }));
}

// A clip chosen in the panel (an XWayland window) is pasted into the native
// Wayland window that was in front, through the portal once GNOME's dialog
// is approved (its switch, then "_Share", with animations off so that the
// button is live at once).
TEST_F(TindrelOnGnomeTest, PastesAClipChosenInThePanelIntoANativeWaylandField) {
    QProcess gsettings;
    gsettings.setProcessEnvironment(session.environment());
    gsettings.start(u"gsettings"_s, {u"set"_s, u"org.gnome.desktop.interface"_s,
                                     u"enable-animations"_s, u"false"_s});
    ASSERT_TRUE(gsettings.waitForFinished() && gsettings.exitCode() == 0);
    start("pollInterval=0.1\n");
    QProcess& xclip = client(u"xclip"_s, {u"-quiet"_s, u"-selection"_s, u"clipboard"_s});
    xclip.write("chosen in the panel");
    xclip.closeWriteChannel();
    ASSERT_TRUE(recorded(u"chosen in the panel"_s)) << log().toStdString();

    QProcess& field =
        client(QStringLiteral(TINDREL_WAYLAND_TEXT_FIELD), {u"io.tindrel.TestOther"_s});
    QString text;
    bool focused = false;
    int losses = 0;
    const auto read = [&] {
        while (field.canReadLine()) {
            const QByteArray line = field.readLine().trimmed();
            if (line == "focused")
                focused = true;
            if (line == "focus lost") {
                focused = false;
                ++losses;
            }
            if (line.startsWith("text "))
                text = QString::fromUtf8(QByteArray::fromPercentEncoding(line.mid(5)));
        }
    };
    ASSERT_TRUE(waitUntil([&] { return read(), focused; }));

    ASSERT_TRUE(pressKeys(u"ctrl+alt+v"_s));
    ASSERT_TRUE(waitUntil([&] { return tindrelWindowShown(); })) << log().toStdString();
    ASSERT_TRUE(waitUntil([&] { return read(), losses == 1; }));
    // Return chooses the newest clip: the panel goes, the field has the
    // keyboard again, and the first paste asks GNOME, whose dialog takes it.
    ASSERT_TRUE(pressKeys(u"Return"_s));
    ASSERT_TRUE(waitUntil([&] { return read(), losses == 2; })) << "no dialog came\n"
                                                                << log().toStdString();
    ASSERT_TRUE(pressKeys(u"Return"_s));
    ASSERT_TRUE(pressKeys(u"alt+s"_s));
    EXPECT_TRUE(waitUntil([&] { return read(), text == u"chosen in the panel"_s; }))
        << text.toStdString() << "\n"
        << log().toStdString();
}
