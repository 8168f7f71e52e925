#include "TindrelProcess.h"

#include "platform/x11/X11Compositing.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QRect>
#include <QScreen>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <algorithm>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <xcb/xcb.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using X11TestEnv::waitUntil;

TEST_F(TindrelProcess, TheTrayIconAppearsAndItsMenuOpens) {
    start();
    const Found icon = trayIcon();
    ASSERT_NE(icon.window, XCB_NONE);
    EXPECT_EQ(menu().window, XCB_NONE);
    const QPoint centre = icon.geometry.center();
    ASSERT_TRUE(xdotool({u"mousemove"_s, QString::number(centre.x()), QString::number(centre.y()),
                         u"click"_s, u"3"_s}));
    EXPECT_TRUE(waitUntil([this] { return menu().window != XCB_NONE; }));
    xdotool({u"key"_s, u"Escape"_s});
    EXPECT_TRUE(waitUntil([this] { return menu().window == XCB_NONE; }));

    // A left click opens the panel under the icon.
    ASSERT_TRUE(xdotool({u"click"_s, u"1"_s}));
    ASSERT_TRUE(waitUntil([this] { return panel().window != XCB_NONE; }));
    EXPECT_GT(panel().geometry.top(), icon.geometry.bottom());
    // It stays out of the taskbar.
    const QByteArray states = property(x, panel().window, "_NET_WM_STATE");
    const xcb_atom_t skip = x.atom("_NET_WM_STATE_SKIP_TASKBAR");
    EXPECT_TRUE(states.contains(QByteArray(reinterpret_cast<const char*>(&skip), sizeof skip)));
}

TEST_F(TindrelProcess, AClipChosenWithTheKeyboardLandsInTheOtherApplication) {
    const QString path = xdg.path(u"editor.txt"_s);
    auto editor = TestClient::helper({u"editor"_s, path});
    ASSERT_TRUE(editor->isReady());
    start();

    const QString text = u"from the panel into the editor"_s;
    ASSERT_TRUE(copy(text));
    // The capture is on disk once the store has saved it.
    ASSERT_TRUE(waitUntil([&] { return storeHolds(text); }, 10000ms));

    ASSERT_TRUE(xdotool({u"key"_s, u"ctrl+alt+v"_s}));
    ASSERT_TRUE(waitUntil([this] { return panel().window != XCB_NONE; }))
        << "the global shortcut did not open the panel";
    ASSERT_TRUE(xdotool({u"key"_s, u"Return"_s}));
    EXPECT_TRUE(waitUntil(
        [&] {
            QFile file(path);
            return file.open(QIODevice::ReadOnly) && file.readAll() == text.toUtf8();
        },
        10000ms));
    EXPECT_EQ(panel().window, XCB_NONE);
}

// The owner takes the clipboard and never answers; Tindrel's read of it
// waits up to its time-out. The panel must open meanwhile, not after.
TEST_F(TindrelProcess, ThePanelOpensWhileTheClipboardOwnerKeepsItWaiting) {
    start();
    QTemporaryFile requestors;
    ASSERT_TRUE(requestors.open());
    offer = TestClient::helper({u"offer"_s, u"never sent"_s, u"--stall"_s, u"*"_s,
                                u"--requestors"_s, requestors.fileName()});
    ASSERT_TRUE(offer->isReady());
    ASSERT_TRUE(waitUntil([&] { return requestors.size() > 0; })) << "Tindrel never asked";
    const xcb_window_t reader = requestors.readLine().trimmed().toUInt();

    ASSERT_TRUE(xdotool({u"key"_s, u"ctrl+alt+v"_s}));
    ASSERT_TRUE(waitUntil([this] { return panel().window != XCB_NONE; }));
    // The reader's window goes when it gives up on the owner: still there,
    // the read was still waiting when the panel came up.
    XcbPtr<xcb_get_window_attributes_reply_t> stillWaiting(xcb_get_window_attributes_reply(
        x.get(), xcb_get_window_attributes(x.get(), reader), nullptr));
    EXPECT_TRUE(stillWaiting) << "the panel came up only after the read gave up";
}

TEST_F(TindrelProcess, ASecondStartOpensThePanelOfTheFirstAndLeaves) {
    start();
    QProcess second;
    second.setProcessEnvironment(environment());
    second.start(QStringLiteral(TINDREL_BINARY), {});
    ASSERT_TRUE(waitUntil([&] { return second.state() == QProcess::NotRunning; }, 15000ms));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(second.readAllStandardOutput().contains("already running"));
    EXPECT_TRUE(waitUntil([this] { return panel().window != XCB_NONE; }));
    EXPECT_EQ(tindrel.state(), QProcess::Running);
}

// The window is named after its tab; General on a first start.
TEST_F(TindrelProcess, ASecondStartWithSettingsOpensTheWindowInFrontAndQuitStillWorks) {
    start();
    QProcess second;
    second.setProcessEnvironment(environment());
    second.start(QStringLiteral(TINDREL_BINARY), {u"--settings"_s});
    ASSERT_TRUE(waitUntil([&] { return second.state() == QProcess::NotRunning; }, 15000ms));
    EXPECT_EQ(second.exitCode(), 0);

    const auto activeName = [] {
        QProcess query;
        query.start(u"xdotool"_s, {u"getactivewindow"_s, u"getwindowname"_s});
        query.waitForFinished(5000);
        return QString::fromUtf8(query.readAllStandardOutput().trimmed());
    };
    EXPECT_TRUE(
        waitUntil([&] { return activeName() == u"Tindrel Settings \u2014 General"_s; }, 10000ms))
        << "active: " << activeName().toStdString();

    // An open settings window must not hold the application back.
    ::kill(static_cast<pid_t>(tindrel.processId()), SIGTERM);
    ASSERT_TRUE(waitUntil([this] { return tindrel.state() == QProcess::NotRunning; }, 10000ms));
    EXPECT_EQ(tindrel.exitCode(), 0);
}

// A data folder that cannot be written is not another instance: Tindrel
// starts, says why once, keeps the clips in memory and keeps trying.
TEST_F(TindrelProcess, StartsWithoutItsLockAndSaysWhy) {
    QFile blocker(xdg.path(u"data/Tindrel"_s));
    ASSERT_TRUE(QDir().mkpath(xdg.path(u"data"_s)));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    start({}, QProcess::SeparateChannels);
    QByteArray err;
    ASSERT_TRUE(waitUntil([&] {
        err += tindrel.readAllStandardError();
        return err.contains("single-instance lock");
    })) << err.toStdString();

    ASSERT_TRUE(copy(u"not saved, but kept"_s));
    EXPECT_TRUE(waitUntil(
        [&] {
            err += tindrel.readAllStandardError();
            return err.contains("Tindrel: save failed");
        },
        10000ms))
        << err.toStdString();
    EXPECT_EQ(tindrel.state(), QProcess::Running);

    // A second start still finds it.
    QProcess second;
    second.setProcessEnvironment(environment());
    second.start(QStringLiteral(TINDREL_BINARY), {});
    ASSERT_TRUE(waitUntil([&] { return second.state() == QProcess::NotRunning; }, 15000ms));
    EXPECT_TRUE(second.readAllStandardOutput().contains("already running"));
    EXPECT_TRUE(waitUntil([this] { return panel().window != XCB_NONE; }));
}

// Opening a named pipe waits for a writer: before the event loop, with the
// single-instance lock held, that would be a start that never ends.
TEST_F(TindrelProcess, AStoreFileThatIsANamedPipeIsSetAsideAndTindrelStarts) {
    const QString storePath = xdg.path(u"data/Tindrel/store.json"_s);
    ASSERT_TRUE(QDir().mkpath(xdg.path(u"data/Tindrel"_s)));
    ASSERT_EQ(::mkfifo(QFile::encodeName(storePath).constData(), 0600), 0);
    start({}, QProcess::SeparateChannels);
    QByteArray err;
    ASSERT_TRUE(waitUntil([&] {
        err += tindrel.readAllStandardError();
        return err.contains("Tindrel: the store file cannot be read: it is a named pipe, not a "
                            "regular file; moved it to " +
                            QFile::encodeName(storePath) + ".damaged-");
    })) << err.toStdString();

    ASSERT_TRUE(copy(u"saved in a real file"_s));
    ASSERT_TRUE(waitUntil([&] { return storeHolds(u"saved in a real file"_s); }, 10000ms));
    EXPECT_TRUE(QFileInfo(storePath).isFile());
}

// A disk that fills up: the save fails and says so, the store on disk stays
// as it was, and once there is room the next copy saves everything. The
// data folder is a 200 KiB tmpfs in a mount namespace of tindrel's own, so
// the mount goes with the process however the test ends.
TEST_F(TindrelProcess, AFullDiskLeavesTheStoreWholeAndSaysSo) {
    if (QStandardPaths::findExecutable(u"unshare"_s).isEmpty() ||
        QProcess::execute(u"unshare"_s, {u"-m"_s, u"true"_s}) != 0)
        GTEST_SKIP() << "no mount namespace of its own here (needs root and unshare)";
    const QString dataDir = xdg.path(u"data/Tindrel"_s);
    ASSERT_TRUE(QDir().mkpath(dataDir));
    wrapper = {u"unshare"_s,
               u"-m"_s,
               u"--propagation"_s,
               u"private"_s,
               u"sh"_s,
               u"-c"_s,
               u"mount -t tmpfs -o size=200k,mode=0700 tindrel-test \"$0\" && exec \"$@\""_s,
               dataDir};
    start({}, QProcess::SeparateChannels);
    // The tmpfs is seen only through the process's own view of the files.
    const QString inside = u"/proc/%1/root"_s.arg(tindrel.processId()) + dataDir;
    const auto storeBytes = [&] {
        QFile file(inside + u"/store.json"_s);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    ASSERT_TRUE(copy(u"saved before the disk filled"_s));
    ASSERT_TRUE(
        waitUntil([&] { return storeBytes().contains("saved before the disk filled"); }, 10000ms));
    const QByteArray before = storeBytes();

    QFile filler(inside + u"/filler"_s);
    ASSERT_TRUE(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    const QByteArray block(4096, 'f');
    while (filler.write(block) == block.size()) {
    }
    filler.close();

    QByteArray err;
    ASSERT_TRUE(copy(u"kept in memory"_s));
    ASSERT_TRUE(waitUntil(
        [&] {
            err += tindrel.readAllStandardError();
            return err.contains("Tindrel: save failed — No space left on device");
        },
        10000ms))
        << err.toStdString();
    EXPECT_EQ(storeBytes(), before);

    ASSERT_TRUE(filler.remove());
    ASSERT_TRUE(copy(u"saved once there was room"_s));
    EXPECT_TRUE(waitUntil(
        [&] {
            const QByteArray now = storeBytes();
            return now.contains("saved once there was room") && now.contains("kept in memory");
        },
        10000ms));
}

TEST_F(TindrelProcess, SigtermSavesTheLatestClipBeforeLeaving) {
    start();
    ASSERT_TRUE(copy(u"first"_s));
    ASSERT_TRUE(waitUntil([&] { return storeHolds(u"first"_s); }, 10000ms));
    // The next capture is not saved yet (a save waits for a lull) when the
    // signal comes; quitting must save it.
    ASSERT_TRUE(copy(u"second, saved on the way out"_s));
    X11TestEnv::settle(400ms);
    ::kill(static_cast<pid_t>(tindrel.processId()), SIGTERM);
    ASSERT_TRUE(waitUntil([this] { return tindrel.state() == QProcess::NotRunning; }, 10000ms));
    EXPECT_EQ(tindrel.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(tindrel.exitCode(), 0);
    EXPECT_TRUE(storeHolds(u"second, saved on the way out"_s));

    // The launch left its mark in the sync log, where sync problems are read.
    QFile log(xdg.path(u"state/Tindrel/sync.log"_s));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_TRUE(log.readAll().contains("  --- launch --- syncEnabled=false\n"));
}

TEST_F(TindrelProcess, AClickInAnotherWindowClosesThePanel) {
    auto other = TestClient::helper({u"window"_s});
    ASSERT_TRUE(other->isReady());
    start();
    ASSERT_TRUE(xdotool({u"key"_s, u"ctrl+alt+v"_s}));
    ASSERT_TRUE(waitUntil([this] { return panel().window != XCB_NONE; }));
    // Wait until the panel has the keyboard, so that losing it is what happens.
    ASSERT_TRUE(waitUntil([this] { return panelIsActive(); }));
    ASSERT_TRUE(xdotool({u"mousemove"_s, u"--window"_s, QString::number(other->window()), u"20"_s,
                         u"20"_s, u"click"_s, u"1"_s}));
    EXPECT_TRUE(waitUntil([this] { return panel().window == XCB_NONE; }));
}

TEST_F(TindrelProcess, AClickOutsideClosesThePanelAlsoWhereItTakesNoFocusAndOneInsideDoesNot) {
    // A dock: clicking it leaves the keyboard where it was, with the panel.
    auto dock = TestClient::helper({u"window"_s, u"--no-focus"_s});
    ASSERT_TRUE(dock->isReady());
    start();
    const auto open = [this] {
        EXPECT_TRUE(xdotool({u"key"_s, u"ctrl+alt+v"_s}));
        return waitUntil([this] { return panelIsActive(); });
    };
    ASSERT_TRUE(open());

    // Into the search field: the panel stays.
    const QRect frame = panel().geometry;
    ASSERT_TRUE(xdotool({u"mousemove"_s, QString::number(frame.center().x()),
                         QString::number(frame.top() + 20), u"click"_s, u"1"_s}));
    X11TestEnv::settle(500ms);
    EXPECT_NE(panel().window, XCB_NONE);

    ASSERT_TRUE(xdotool({u"mousemove"_s, u"--window"_s, QString::number(dock->window()), u"20"_s,
                         u"20"_s, u"click"_s, u"1"_s}));
    EXPECT_TRUE(waitUntil([this] { return panel().window == XCB_NONE; }));

    // The bare desktop background (the tray sits at the top right, the dock
    // in the middle). Right after a close the shortcut is not taken as a
    // reopening.
    X11TestEnv::settle(400ms);
    ASSERT_TRUE(open());
    ASSERT_TRUE(xdotool({u"mousemove"_s, u"40"_s, u"760"_s}));
    ASSERT_TRUE(pointerOverBackground());
    ASSERT_TRUE(xdotool({u"click"_s, u"1"_s}));
    EXPECT_TRUE(waitUntil([this] { return panel().window == XCB_NONE; }));
}

TEST_F(TindrelProcess, TheShortcutAsksTheWindowManagerToActivateThePanelForTheUser) {
    // Requests to the window manager go to the root window, where anyone
    // listening for its children's changes hears them too.
    struct Request {
        xcb_window_t window;
        quint32 source;
    };
    QList<Request> requests;
    const quint32 mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(x.get(), x.root(), XCB_CW_EVENT_MASK, &mask);
    const xcb_atom_t activeWindow = x.atom("_NET_ACTIVE_WINDOW");
    QObject context;
    x.addEventHandler(&context, [&](const xcb_generic_event_t& event) {
        if ((event.response_type & 0x7f) != XCB_CLIENT_MESSAGE)
            return;
        const auto& message = reinterpret_cast<const xcb_client_message_event_t&>(event);
        if (message.type == activeWindow)
            requests.append({message.window, message.data.data32[0]});
    });
    x.watchEvents();
    start();

    ASSERT_TRUE(xdotool({u"key"_s, u"ctrl+alt+v"_s}));
    ASSERT_TRUE(waitUntil([this] { return panelIsActive(); }));
    // Source 2, a request on the user's behalf: window managers that prevent
    // focus stealing grant it whatever time Qt last heard of.
    EXPECT_TRUE(waitUntil([&] {
        return std::ranges::any_of(requests, [&](const Request& r) {
            return r.window == panel().window && r.source == 2;
        });
    })) <<
        [&] {
            QString seen = u"panel "_s + QString::number(panel().window) + u", requests:"_s;
            for (const Request& r : requests)
                seen += u' ' + QString::number(r.window) + u'/' + QString::number(r.source);
            return seen.toStdString();
        }();
}

TEST_F(TindrelProcess, ThePanelIsARoundedCardThatTheDesktopShowsThroughOnlyUnderACompositor) {
    // A red window behind the panel: wherever the panel lets the desktop
    // through, its pixels turn red.
    auto backdrop = TestClient::helper({u"window"_s, u"--colour"_s, u"#ff0000"_s});
    ASSERT_TRUE(backdrop->isReady());
    start();

    struct Look {
        bool cornersShowBackdrop = false;
        double tintedShare = 0; // of the pixels well inside the card
    };
    const auto look = [this]() -> Look {
        EXPECT_TRUE(xdotool({u"key"_s, u"ctrl+alt+v"_s}));
        EXPECT_TRUE(waitUntil([this] { return panel().window != XCB_NONE; }));
        X11TestEnv::settle(500ms); // painted, and composited where there is a compositor
        const QRect area = panel().geometry;
        const QImage shot = QGuiApplication::primaryScreen()
                                ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
                                .toImage();
        Look seen;
        // The lower corners: the upper ones may lie over the backdrop's title bar.
        const auto red = [](QColor c) { return c.red() > 220 && c.green() < 40 && c.blue() < 40; };
        seen.cornersShowBackdrop = red(shot.pixelColor(1, shot.height() - 2)) &&
                                   red(shot.pixelColor(shot.width() - 2, shot.height() - 2));
        const int inset = 16; // past the rounded corners
        int tinted = 0, all = 0;
        for (int row = inset; row < shot.height() - inset; ++row)
            for (int column = inset; column < shot.width() - inset; ++column) {
                const QColor c = shot.pixelColor(column, row);
                tinted += c.red() - std::max(c.green(), c.blue()) > 8;
                ++all;
            }
        seen.tintedShare = all ? static_cast<double>(tinted) / all : 0;
        EXPECT_TRUE(xdotool({u"key"_s, u"Escape"_s}));
        EXPECT_TRUE(waitUntil([this] { return panel().window == XCB_NONE; }));
        return seen;
    };

    ASSERT_FALSE(X11Compositing::isActive());
    const Look opaque = look();
    EXPECT_TRUE(opaque.cornersShowBackdrop);
    EXPECT_LT(opaque.tintedShare, 0.01);

    auto compositor = TestClient::start(u"xcompmgr"_s, {});
    ASSERT_TRUE(compositor->isReady());
    ASSERT_TRUE(waitUntil([] { return X11Compositing::isActive(); }));
    X11TestEnv::settle(1000ms); // it claims the selection before it redirects the windows
    const Look translucent = look();
    EXPECT_TRUE(translucent.cornersShowBackdrop);
    EXPECT_GT(translucent.tintedShare, 0.5);
}
