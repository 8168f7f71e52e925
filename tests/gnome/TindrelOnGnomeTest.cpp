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

    // Whether a window of ours is shown on XWayland.
    bool panelShown() {
        QProcess search;
        search.setProcessEnvironment(session.environment());
        search.start(u"xdotool"_s, {u"search"_s, u"--onlyvisible"_s, u"--class"_s, u"tindrel"_s});
        return search.waitForFinished(10000) && !search.readAllStandardOutput().trimmed().isEmpty();
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
    ASSERT_FALSE(panelShown());
    // Bound by the time the extension answered: pressed once, it opens.
    ASSERT_TRUE(waitUntil([&] { return !log().contains(u"not bound"_s); }));
    ASSERT_TRUE(pressKeys(u"ctrl+alt+v"_s));
    ASSERT_TRUE(waitUntil([&] { return panelShown(); })) << log().toStdString();
    ASSERT_TRUE(pressKeys(u"ctrl+alt+v"_s));
    ASSERT_TRUE(waitUntil([&] { return !panelShown(); })) << log().toStdString();
    // A shortcut and the extension's icon open it here: the start, which
    // looks a few seconds after it began, leaves it closed.
    QTest::qWait(4000);
    EXPECT_FALSE(panelShown());
    EXPECT_FALSE(log().contains(u"opening it"_s)) << log().toStdString();
}

TEST_F(TindrelOnGnomeTest, WithoutTheExtensionTheFirstStartShowsThePanelAndSaysWhy) {
    ASSERT_TRUE(setExtension(false));
    start();
    EXPECT_TRUE(waitUntil([&] { return panelShown(); })) << log().toStdString();
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
