#include "KdeSession.h"
#include "platform/Workspace.h"
#include "platform/wayland/SplitKeySynth.h"
#include "platform/x11/X11Parts.h"
#include "platform/xdg/PortalRemoteDesktop.h"
#include "support/SessionKeyRouter.h"

#include <QDBusConnection>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

// Pasting on the real KWin: XWayland's XTest into an X11 editor, the desktop
// portal's remote control into a native Wayland text field, each chosen by
// what XWayland says is in front.
class KdePasteTest : public KdeTest, protected SessionKeyRouter {
protected:
    void SetUp() override {
        KdeTest::SetUp();
        if (IsSkipped())
            return;
        buildKeyRouter(session.busAddress, session.x11Display, u"kdepaste"_s);
    }

    void TearDown() override {
        dropKeyRouter();
        KdeTest::TearDown();
    }

    // Puts the text on the clipboard from a Wayland client, as a copy
    // elsewhere would.
    void copy(const QString& text) {
        client(u"wl-copy"_s, {u"--foreground"_s, u"--"_s, text});
        ASSERT_TRUE(waitUntil([&] {
            QProcess paste;
            paste.setProcessEnvironment(session.environment());
            paste.start(u"wl-paste"_s, {u"--no-newline"_s});
            return paste.waitForFinished() && paste.readAllStandardOutput() == text.toUtf8();
        }));
    }

    // Starts the native Wayland text field and waits until it has the keyboard.
    QProcess& waylandField() {
        QProcess& field =
            client(QStringLiteral(TINDREL_WAYLAND_TEXT_FIELD), {u"io.tindrel.PasteTarget"_s});
        EXPECT_TRUE(waitUntil([&] { return read(field), focused; }))
            << field.readAllStandardError().toStdString();
        return field;
    }

    static QByteArray contents(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    void read(QProcess& field) {
        while (field.canReadLine()) {
            const QByteArray line = field.readLine().trimmed();
            if (line == "focused")
                focused = true;
            else if (line.startsWith("text "))
                fieldText = QString::fromUtf8(QByteArray::fromPercentEncoding(line.mid(5)));
        }
    }

    bool focused = false;
    QString fieldText;
};

TEST_F(KdePasteTest, PastesIntoAnX11EditorThroughXTestWithoutAsking) {
    QTemporaryDir files;
    const QString saved = files.filePath(u"editor.txt"_s);
    ASSERT_NE(x11Editor(QStringLiteral(TINDREL_X11_HELPER), saved, xwayland->workspace()), 0u);
    copy(u"pasted by XTest under KWin"_s);

    EXPECT_TRUE(keys->sendChord(PasteChord::CtrlV));
    EXPECT_TRUE(waitUntil([&] { return contents(saved) == "pasted by XTest under KWin"; }))
        << contents(saved).toStdString();
    // An X11 window needs nobody's leave: the desktop was not asked.
    QCoreApplication::processEvents();
    EXPECT_EQ(keys->permission(), PastePermission::notAsked);
}

TEST_F(KdePasteTest, PastesIntoANativeWaylandFieldThroughThePortalOnceAllowed) {
    // An X11 window stays open behind: XTest would type into it.
    QTemporaryDir files;
    const QString saved = files.filePath(u"editor.txt"_s);
    ASSERT_NE(x11Editor(QStringLiteral(TINDREL_X11_HELPER), saved, xwayland->workspace()), 0u);
    QProcess& field = waylandField();
    ASSERT_TRUE(focused);
    // While a Wayland window has the focus XWayland names no active window.
    EXPECT_TRUE(waitUntil([&] { return !xwayland->workspace().frontmost(); }));
    copy(u"pasted by the portal"_s);

    QSignalSpy asked(portal.get(), &PortalRemoteDesktop::permissionChanged);
    // The first paste asks the desktop and is pressed once it allows.
    EXPECT_FALSE(keys->sendChord(PasteChord::CtrlV));
    EXPECT_EQ(keys->permission(), PastePermission::asking);
    ASSERT_TRUE(waitUntil([&] { return keys->permission() != PastePermission::asking; }))
        << "the desktop did not answer";
    ASSERT_EQ(keys->permission(), PastePermission::granted) << portal->problem().toStdString();
    EXPECT_TRUE(waitUntil([&] { return read(field), fieldText == u"pasted by the portal"_s; }))
        << fieldText.toStdString();

    // Later pastes go at once, without another question.
    EXPECT_TRUE(keys->sendChord(PasteChord::CtrlV));
    EXPECT_TRUE(waitUntil([&] {
        return read(field), fieldText == u"pasted by the portalpasted by the portal"_s;
    })) << fieldText.toStdString();
    EXPECT_EQ(asked.count(), 2); // asking, granted
    EXPECT_EQ(contents(saved), QByteArray());
}

// The tindrel program itself: a clip chosen in its panel (an XWayland
// window) is pasted into the native Wayland window that was in front.
class KdeTindrelPasteTest : public KdeTindrelTest {};

TEST_F(KdeTindrelPasteTest, PastesAClipChosenInThePanelIntoANativeWaylandField) {
    start();
    EXPECT_TRUE(log().contains(u"pasting through XTest into X11 windows, through the desktop "
                               "portal into the others"_s))
        << log().toStdString();
    QProcess& field =
        client(QStringLiteral(TINDREL_WAYLAND_TEXT_FIELD), {u"io.tindrel.PasteTarget"_s});
    QString text;
    bool focused = false;
    const auto read = [&] {
        while (field.canReadLine()) {
            const QByteArray line = field.readLine().trimmed();
            focused = focused || line == "focused";
            if (line.startsWith("text "))
                text = QString::fromUtf8(QByteArray::fromPercentEncoding(line.mid(5)));
        }
    };
    ASSERT_TRUE(waitUntil([&] { return read(), focused; }));
    client(u"wl-copy"_s, {u"--foreground"_s, u"--"_s, u"chosen in the panel"_s});
    ASSERT_TRUE(recorded(u"chosen in the panel"_s)) << log().toStdString();

    auto xwayland = X11Parts::open(/*withPasteboard=*/false);
    ASSERT_TRUE(xwayland);
    command({}); // opens the running instance's panel
    ASSERT_TRUE(waitUntil([&] {
        const auto front = xwayland->workspace().frontmost();
        return front && front->pid == tindrel.processId();
    })) << "the panel did not take the focus";
    // Return pastes the selected clip, the newest; the key comes through
    // XTest, as the panel is an XWayland window.
    client(u"xdotool"_s, {u"key"_s, u"Return"_s});
    EXPECT_TRUE(waitUntil([&] { return read(), text == u"chosen in the panel"_s; }))
        << text.toStdString() << "\n"
        << log().toStdString();
}
