#include "KdeSession.h"
#include "platform/wayland/KWinWindowTracker.h"
#include "support/QtPrinters.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryFile>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {
// An app whose X11 class differs from KWin's report of it (KWin lowers the
// case), and a native Wayland one naming its entry itself.
const QString kNotesClass = u"NotesWindow"_s;
const QString kNotesId = u"org.example.Notes"_s;
const QString kFieldId = u"org.example.Field"_s;

void writeEntries(const QString& dataHome) {
    ASSERT_TRUE(QDir().mkpath(dataHome + u"/applications"_s));
    for (const auto& [id, extra] : {std::pair{kNotesId, u"StartupWMClass="_s + kNotesClass},
                                    std::pair{kFieldId, QString()}}) {
        QFile file(dataHome + u"/applications/"_s + id + u".desktop"_s);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[Desktop Entry]\nType=Application\nName=" + id.toUtf8() + "\nExec=true\n" +
                   extra.toUtf8() + "\n");
    }
}

// The X11 window KWin has made active, as it tells XWayland's clients; 0
// while a Wayland window or none is.
quint64 activeX11Window() {
    QProcess xprop;
    xprop.start(u"xprop"_s, {u"-root"_s, u"_NET_ACTIVE_WINDOW"_s});
    if (!xprop.waitForFinished(5000))
        return 0;
    static const QRegularExpression id(u"# (0x[0-9a-fA-F]+)"_s);
    const QRegularExpressionMatch match = id.match(QString::fromLatin1(xprop.readAll()));
    return match.hasMatch() ? match.captured(1).toULongLong(nullptr, 16) : 0;
}

// What a helper printed so far, read as it comes.
bool saidLine(QProcess& process, QString& seen, const QString& prefix) {
    return waitUntil([&] {
        seen += QString::fromUtf8(process.readAllStandardOutput());
        return seen.contains(prefix);
    });
}
} // namespace

class KdeAppsTest : public KdeTindrelTest {
protected:
    // Started, and answering commands on the bus.
    void startAndWait(const QByteArray& settings = {}) {
        start(settings);
        ASSERT_TRUE(recorded(QString())) << log().toStdString();
    }
    // An X11 window of the helper under `windowClass`, once KWin has made it
    // active; its X11 id.
    quint64 x11Window(const QString& windowClass) {
        // An X11 client by choice: Qt would take Wayland here.
        QProcess& helper = clients.emplace_back();
        QProcessEnvironment env = session.environment();
        env.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
        helper.setProcessEnvironment(env);
        helper.start(QStringLiteral(TINDREL_X11_HELPER), {u"window"_s, u"--class"_s, windowClass});
        QString seen;
        if (!saidLine(helper, seen, u"ready "_s))
            return 0;
        static const QRegularExpression ready(u"ready ([0-9]+)"_s);
        const quint64 id = ready.match(seen).captured(1).toULongLong();
        return waitUntil([&] { return activeX11Window() == id; }) ? id : 0;
    }
    // The native Wayland text field under `appId`, once it has the keyboard.
    bool waylandField(const QString& appId) {
        QProcess& field = client(QStringLiteral(TINDREL_WAYLAND_TEXT_FIELD), {appId});
        QString seen;
        return saidLine(field, seen, u"focused"_s);
    }
    // Copies through an X11 client: XWayland hands it on to Wayland while an
    // X11 window has the focus.
    void x11Copy(const QString& text) {
        QProcess& xclip = client(u"xclip"_s, {u"-quiet"_s, u"-selection"_s, u"clipboard"_s});
        xclip.write(text.toUtf8());
        xclip.closeWriteChannel();
    }
};

// The tracker against KWin itself: its script loads, reports X11 and native
// Wayland windows as KWin names them, and brings a window back to the front.
TEST_F(KdeAppsTest, KWinReportsTheWindowInFrontAndBringsAnotherBack) {
    writeEntries(xdg.path(u"data"_s));
    QDBusConnection bus = QDBusConnection::connectToBus(session.busAddress, u"kde-apps"_s);
    const auto disconnect = qScopeGuard([] { QDBusConnection::disconnectFromBus(u"kde-apps"_s); });
    auto tracker = KWinWindowTracker::connect(bus);
    ASSERT_TRUE(tracker);
    const auto frontIs = [&](const QString& appId) {
        return waitUntil([&] {
            const std::optional<FrontmostApp> front = tracker->frontmost();
            return front && front->appId == appId;
        });
    };

    ASSERT_NE(x11Window(kNotesClass), 0u);
    ASSERT_TRUE(frontIs(kNotesId))
        << tracker->frontmost().value_or(FrontmostApp{}).appId.toStdString();
    const FrontmostApp notes = *tracker->frontmost();
    EXPECT_EQ(notes.windowClass.compare(kNotesClass, Qt::CaseInsensitive), 0);
    EXPECT_EQ(notes.pid, clients.back().processId());
    EXPECT_FALSE(notes.isOwnProcess);

    ASSERT_TRUE(waylandField(kFieldId));
    ASSERT_TRUE(frontIs(kFieldId));
    const FrontmostApp field = *tracker->frontmost();
    EXPECT_EQ(field.pid, clients.back().processId());
    EXPECT_NE(field.window, notes.window);

    // Back and forth: each request is a script of its own that KWin takes
    // while it still drops the one before.
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        ASSERT_TRUE(tracker->activate(notes));
        ASSERT_TRUE(frontIs(kNotesId));
        ASSERT_TRUE(tracker->activate(field));
        ASSERT_TRUE(frontIs(kFieldId));
    }
    // A window KWin never reported is not asked for.
    FrontmostApp stranger = notes;
    stranger.window = 12345;
    EXPECT_FALSE(tracker->activate(stranger));
}

// A run that did not end cleanly leaves its script in KWin under the name
// the next run loads its own; KWin drops the old one only a moment after it
// is unloaded, and the next run must still get its script in.
TEST_F(KdeAppsTest, KWinTakesTheScriptAfterARunThatLeftItsOwn) {
    writeEntries(xdg.path(u"data"_s));
    QDBusConnection bus = QDBusConnection::connectToBus(session.busAddress, u"kde-apps"_s);
    const auto disconnect = qScopeGuard([] { QDBusConnection::disconnectFromBus(u"kde-apps"_s); });
    QTemporaryFile leftover;
    ASSERT_TRUE(leftover.open());
    leftover.write("(function () {})();\n");
    leftover.flush();
    QDBusMessage load = QDBusMessage::createMethodCall(
        u"org.kde.KWin"_s, u"/Scripting"_s, u"org.kde.kwin.Scripting"_s, u"loadScript"_s);
    load.setArguments({leftover.fileName(), u"tindrel-window-in-front"_s});
    const QDBusMessage loaded = bus.call(load);
    ASSERT_EQ(loaded.type(), QDBusMessage::ReplyMessage) << loaded.errorMessage().toStdString();
    ASSERT_GE(loaded.arguments().value(0).toInt(), 0);
    bus.call(QDBusMessage::createMethodCall(u"org.kde.KWin"_s, u"/Scripting"_s,
                                            u"org.kde.kwin.Scripting"_s, u"start"_s));

    auto tracker = KWinWindowTracker::connect(bus);
    ASSERT_TRUE(tracker);
    ASSERT_NE(x11Window(kNotesClass), 0u);
    EXPECT_TRUE(waitUntil([&] {
        const std::optional<FrontmostApp> front = tracker->frontmost();
        return front && front->appId == kNotesId;
    }));
}

// Copies are recorded from X11 and Wayland clients alike, except while an
// app the user ignores is in front: one picked from the list of installed
// apps, found by the same id under KWin's lower-case classes.
TEST_F(KdeAppsTest, IgnoredX11AndWaylandAppsAreNotRecorded) {
    writeEntries(xdg.path(u"data"_s));
    startAndWait("pollInterval=0.1\nignoredApps=" + kNotesId.toUtf8() + ", " + kFieldId.toUtf8() +
                 "\n");

    ASSERT_NE(x11Window(kNotesClass), 0u);
    x11Copy(u"copied in an ignored X11 app"_s);
    ASSERT_TRUE(waylandField(kFieldId));
    client(u"wl-copy"_s, {u"--foreground"_s, u"--"_s, u"copied in an ignored Wayland app"_s});

    // Recorded after both: had they been taken, they would be listed by now.
    ASSERT_NE(x11Window(u"PlainWindow"_s), 0u);
    x11Copy(u"copied in an X11 app nobody ignores"_s);
    ASSERT_TRUE(recorded(u"copied in an X11 app nobody ignores"_s)) << log().toStdString();
    const QString list = command({u"list"_s});
    EXPECT_FALSE(list.contains(u"ignored X11"_s)) << list.toStdString();
    EXPECT_FALSE(list.contains(u"ignored Wayland"_s)) << list.toStdString();
}

// A clip chosen from the history becomes the clipboard of Wayland and X11
// clients both.
TEST_F(KdeAppsTest, AChosenClipBecomesTheClipboardEverywhere) {
    startAndWait();
    ASSERT_NE(x11Window(u"PlainWindow"_s), 0u);
    x11Copy(u"first clip under KWin"_s);
    ASSERT_TRUE(recorded(u"first clip under KWin"_s)) << log().toStdString();
    client(u"wl-copy"_s, {u"--foreground"_s, u"--"_s, u"second clip under KWin"_s});
    ASSERT_TRUE(recorded(u"second clip under KWin"_s)) << log().toStdString();

    command({u"copy"_s, u"2"_s});
    EXPECT_TRUE(waitUntil(
        [&] { return output(u"wl-paste"_s, {u"--no-newline"_s}) == u"first clip under KWin"_s; }));
    EXPECT_TRUE(waitUntil([&] {
        return output(u"xclip"_s, {u"-o"_s, u"-selection"_s, u"clipboard"_s}) ==
               u"first clip under KWin"_s;
    }));
}

// The panel takes the focus when it opens and gives it back to the window
// that had it when it closes.
TEST_F(KdeAppsTest, ClosingThePanelGivesTheFocusBack) {
    startAndWait();
    const quint64 plain = x11Window(u"PlainWindow"_s);
    ASSERT_NE(plain, 0u);
    command({u"--show-panel"_s});
    quint64 panel = 0;
    ASSERT_TRUE(waitUntil([&] {
        panel = activeX11Window();
        return panel != 0 && panel != plain;
    })) << log().toStdString();
    command({u"--toggle-panel"_s});
    EXPECT_TRUE(waitUntil([&] { return activeX11Window() == plain; })) << log().toStdString();
}
