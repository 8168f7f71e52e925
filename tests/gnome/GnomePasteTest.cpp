#include "GnomeSession.h"
#include "platform/Workspace.h"
#include "platform/wayland/SplitKeySynth.h"
#include "platform/x11/X11Parts.h"
#include "platform/xdg/PortalRemoteDesktop.h"
#include "support/LogCapture.h"
#include "support/SessionKeyRouter.h"

#include <QDBusConnection>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

// Pasting on the real GNOME Shell, built as the GNOME desktop builds it:
// XWayland's XTest into an X11 editor, GNOME's portal's remote control into
// a native Wayland text field once its dialog is approved, each chosen by
// what XWayland says is in front. The dialog is answered with keys typed
// through mutter's own remote control, as a user at the keyboard would.
class GnomePasteTest : public GnomeTest, protected SessionKeyRouter {
protected:
    void SetUp() override {
        GnomeTest::SetUp();
        if (IsSkipped())
            return;
        // GTK turns the dialog's switch on at the end of its animation: a
        // click on "Share" at once, as keys typed together make it, would
        // find it still unclickable. People are slower than that.
        QProcess gsettings;
        gsettings.setProcessEnvironment(session.environment());
        gsettings.start(u"gsettings"_s, {u"set"_s, u"org.gnome.desktop.interface"_s,
                                         u"enable-animations"_s, u"false"_s});
        ASSERT_TRUE(gsettings.waitForFinished() && gsettings.exitCode() == 0)
            << gsettings.readAllStandardError().toStdString();
        buildKeyRouter(session.busAddress, session.x11Display, u"gnomepaste"_s);
    }

    void TearDown() override {
        dropKeyRouter();
        GnomeTest::TearDown();
    }

    // Puts the text on the clipboard from an X11 client, which mutter hands
    // on to Wayland: wl-copy would open a window to take the keyboard, and
    // could lose the race for it to a window opened at the same time.
    // Reading it back through Wayland may take the keyboard for a moment,
    // so this comes before the windows a case types into.
    void copy(const QString& text) {
        QProcess& xclip = client(u"xclip"_s, {u"-quiet"_s, u"-selection"_s, u"clipboard"_s});
        xclip.write(text.toUtf8());
        xclip.closeWriteChannel();
        ASSERT_TRUE(waitUntil([&] { return output(u"wl-paste"_s, {u"--no-newline"_s}) == text; }));
    }

    // Starts the native Wayland text field and waits until it has the keyboard.
    QProcess& waylandField() {
        QProcess& started =
            client(QStringLiteral(TINDREL_WAYLAND_TEXT_FIELD), {u"io.tindrel.PasteTarget"_s});
        field = &started;
        EXPECT_TRUE(waitUntil([&] { return readField(), focused; }))
            << started.readAllStandardError().toStdString();
        return started;
    }

    static QByteArray contents(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    void readField() {
        while (field && field->canReadLine()) {
            const QByteArray line = field->readLine().trimmed();
            if (line == "focused") {
                focused = true;
            } else if (line == "focus lost") {
                focused = false;
                ++focusLost;
            } else if (line.startsWith("text ")) {
                fieldText = QString::fromUtf8(QByteArray::fromPercentEncoding(line.mid(5)));
            }
        }
    }

    // GNOME's question is a window of its portal: it takes the keyboard
    // from the field.
    bool dialogShown() {
        const int before = focusLost;
        return waitUntil([&] { return readField(), focusLost > before && !focused; });
    }

    // Answers GNOME's "Remote desktop" dialog. Its first row, "Allow remote
    // interaction", has the keyboard: Return turns its switch on, which
    // makes "_Share" clickable, and Alt+S clicks it. Escape closes the
    // dialog, as Cancel does.
    void answerDialog(bool allow) {
        if (allow) {
            ASSERT_TRUE(pressKeys(u"Return"_s));
            ASSERT_TRUE(pressKeys(u"alt+s"_s));
        } else {
            ASSERT_TRUE(pressKeys(u"Escape"_s));
        }
    }

    bool settles() {
        return waitUntil([&] { return keys->permission() != PastePermission::asking; });
    }

    QProcess* field = nullptr;
    bool focused = false;
    int focusLost = 0;
    QString fieldText;
};

TEST_F(GnomePasteTest, PastesIntoAnX11EditorThroughXTestWithoutAsking) {
    QTemporaryDir files;
    const QString saved = files.filePath(u"editor.txt"_s);
    copy(u"pasted by XTest under mutter"_s);
    ASSERT_NE(x11Editor(QStringLiteral(TINDREL_X11_HELPER), saved, xwayland->workspace()), 0u);

    EXPECT_TRUE(keys->sendChord(PasteChord::CtrlV));
    EXPECT_TRUE(waitUntil([&] { return contents(saved) == "pasted by XTest under mutter"; }))
        << contents(saved).toStdString();
    // An X11 window needs nobody's leave: the portal was not asked.
    QCoreApplication::processEvents();
    EXPECT_EQ(keys->permission(), PastePermission::notAsked);
}

TEST_F(GnomePasteTest, PastesIntoANativeWaylandFieldOnceGnomesDialogIsApproved) {
    LogCapture log;
    copy(u"pasted by the portal"_s);
    // An X11 window stays open behind: XTest would type into it.
    QTemporaryDir files;
    const QString saved = files.filePath(u"editor.txt"_s);
    ASSERT_NE(x11Editor(QStringLiteral(TINDREL_X11_HELPER), saved, xwayland->workspace()), 0u);
    waylandField();
    ASSERT_TRUE(focused);
    // While a Wayland window has the focus XWayland names no active window.
    ASSERT_TRUE(waitUntil([&] { return !xwayland->workspace().frontmost(); }));

    QSignalSpy changes(portal.get(), &PortalRemoteDesktop::permissionChanged);
    // The first paste asks the desktop and is pressed once it allows.
    EXPECT_FALSE(keys->sendChord(PasteChord::CtrlV));
    EXPECT_EQ(keys->permission(), PastePermission::asking);
    ASSERT_TRUE(dialogShown()) << "GNOME's portal showed no dialog; "
                               << portal->problem().toStdString();
    EXPECT_EQ(keys->permission(), PastePermission::asking);
    answerDialog(/*allow=*/true);
    ASSERT_TRUE(settles()) << "the desktop did not answer";
    ASSERT_EQ(keys->permission(), PastePermission::granted) << portal->problem().toStdString();
    EXPECT_TRUE(waitUntil([&] { return readField(), fieldText == u"pasted by the portal"_s; }))
        << fieldText.toStdString();

    // Later pastes go at once, without another question.
    EXPECT_TRUE(keys->sendChord(PasteChord::CtrlV));
    EXPECT_TRUE(waitUntil([&] {
        return readField(), fieldText == u"pasted by the portalpasted by the portal"_s;
    })) << fieldText.toStdString();
    EXPECT_EQ(focusLost, 1);
    EXPECT_EQ(changes.count(), 2); // asking, granted
    EXPECT_EQ(contents(saved), QByteArray());
    // GNOME 43's portal cannot keep the grant for the next run, and says so.
    EXPECT_FALSE(portal->keepsGrant());
    EXPECT_FALSE(settings.contains(PortalRemoteDesktop::restoreTokenKey));
    EXPECT_TRUE(log.contains(u"cannot keep a grant"_s)) << log.lines.join(u'\n').toStdString();
}

TEST_F(GnomePasteTest, ARefusalInGnomesDialogTypesNothingUntilTheUserAsksAgain) {
    copy(u"allowed the second time"_s);
    waylandField();
    ASSERT_TRUE(focused);
    ASSERT_TRUE(waitUntil([&] { return !xwayland->workspace().frontmost(); }));

    EXPECT_FALSE(keys->sendChord(PasteChord::CtrlV));
    ASSERT_TRUE(dialogShown()) << portal->problem().toStdString();
    answerDialog(/*allow=*/false);
    ASSERT_TRUE(settles());
    EXPECT_EQ(keys->permission(), PastePermission::refused);
    // Refused stays refused: no new question at the next paste.
    EXPECT_FALSE(keys->sendChord(PasteChord::CtrlV));
    EXPECT_EQ(keys->permission(), PastePermission::refused);

    // The user's "ask again" opens the dialog at once.
    EXPECT_TRUE(keys->askAgain());
    EXPECT_EQ(keys->permission(), PastePermission::asking);
    ASSERT_TRUE(dialogShown()) << portal->problem().toStdString();
    answerDialog(/*allow=*/true);
    ASSERT_TRUE(settles());
    ASSERT_EQ(keys->permission(), PastePermission::granted) << portal->problem().toStdString();
    // The refused pastes were not kept for later.
    ASSERT_TRUE(waitUntil([&] { return readField(), focused; }));
    EXPECT_TRUE(keys->sendChord(PasteChord::CtrlV));
    EXPECT_TRUE(waitUntil([&] { return readField(), fieldText == u"allowed the second time"_s; }))
        << fieldText.toStdString();
    EXPECT_EQ(focusLost, 2);
}
