#include "platform/wayland/KWinWindowTracker.h"
#include "PrivateBus.h"
#include "support/QtPrinters.h"

#include <QDBusPendingCallWatcher>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QTest>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {
// KWin's scripting interface, as far as we use it; records the calls.
class FakeKWinScripting final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.kwin.Scripting")
public:
    QStringList calls;
    QString scriptPath;
    // Loads refused first, as KWin refuses a name it has not let go of yet.
    int refusals = 0;

public Q_SLOTS:
    int loadScript(const QString& path, const QString& plugin) {
        calls << u"loadScript "_s + plugin;
        scriptPath = path;
        return refusals-- > 0 ? -1 : 7;
    }
    bool unloadScript(const QString& plugin) {
        calls << u"unloadScript "_s + plugin;
        return true;
    }
    void start() { calls << u"start"_s; }
};

// Sends a call as `from` and waits until the tracker has handled it.
bool deliver(QDBusConnection from, const QString& to, const QString& method,
             const QVariantList& arguments) {
    QDBusMessage call = QDBusMessage::createMethodCall(to, u"/io/tindrel/WindowInFront"_s,
                                                       u"io.tindrel.WindowInFront"_s, method);
    call.setArguments(arguments);
    QDBusPendingCallWatcher watcher(from.asyncCall(call));
    return QTest::qWaitFor([&] { return watcher.isFinished(); }, 5000) && !watcher.isError();
}
} // namespace

// Our script run as KWin would run it (in node, against a stand-in
// workspace), its calls delivered over a real bus as KWin would send them.
// Against a real KWin this is unverified: there is none on this machine.
TEST(KWinWindowTracker, LoadsItsScriptAndFollowsWhatItReports) {
    const QString node = QStandardPaths::findExecutable(u"node"_s);
    if (node.isEmpty())
        GTEST_SKIP() << "node is not installed";
    PrivateBus bus;
    ASSERT_FALSE(bus.address().isEmpty()) << "dbus-daemon did not start";
    QDBusConnection kwin = QDBusConnection::connectToBus(bus.address(), u"fake-kwin"_s);
    QDBusConnection stranger = QDBusConnection::connectToBus(bus.address(), u"stranger"_s);
    const auto disconnect = qScopeGuard([] {
        QDBusConnection::disconnectFromBus(u"fake-kwin"_s);
        QDBusConnection::disconnectFromBus(u"stranger"_s);
    });
    FakeKWinScripting scripting;
    ASSERT_TRUE(kwin.registerService(u"org.kde.KWin"_s));
    ASSERT_TRUE(kwin.registerObject(u"/Scripting"_s, &scripting, QDBusConnection::ExportAllSlots));

    const QByteArray savedDesktop = qgetenv("XDG_CURRENT_DESKTOP");
    const auto restore = qScopeGuard([&] { qputenv("XDG_CURRENT_DESKTOP", savedDesktop); });
    qputenv("XDG_CURRENT_DESKTOP", "GNOME");
    EXPECT_EQ(KWinWindowTracker::connect(bus.connection()), nullptr);
    qputenv("XDG_CURRENT_DESKTOP", "KDE");
    auto tracker = KWinWindowTracker::connect(bus.connection());
    ASSERT_TRUE(tracker);
    // A script left by an earlier run goes before ours comes.
    const QStringList loading{u"unloadScript tindrel-window-in-front"_s,
                              u"loadScript tindrel-window-in-front"_s, u"start"_s};
    ASSERT_TRUE(QTest::qWaitFor([&] { return scripting.calls == loading; }, 5000))
        << scripting.calls.join(u", "_s).toStdString();

    // What the script asks KWin to send, under KWin 6 and KWin 5 alike.
    QList<QJsonArray> calls;
    for (const QString& version : {u"6"_s, u"5"_s}) {
        QProcess harness;
        harness.start(node, {QStringLiteral(TINDREL_KWIN_HARNESS), scripting.scriptPath, version});
        ASSERT_TRUE(harness.waitForFinished(10000));
        ASSERT_EQ(harness.exitCode(), 0) << harness.readAllStandardError().toStdString();
        QList<QJsonArray> these;
        for (const QByteArray& line : harness.readAllStandardOutput().split('\n'))
            if (!line.isEmpty())
                these << QJsonDocument::fromJson(line).array();
        if (calls.isEmpty())
            calls = these;
        EXPECT_EQ(these, calls) << "KWin " << version.toStdString();
    }
    ASSERT_EQ(calls.size(), 3);
    const QString us = bus.connection().baseService();
    const auto send = [&](QDBusConnection from, const QJsonArray& call) {
        EXPECT_EQ(call[0].toString(), us);
        QVariantList arguments;
        for (qsizetype i = 4; i < call.size(); ++i)
            arguments << call[i].toString();
        return deliver(from, call[0].toString(), call[3].toString(), arguments);
    };

    // Only KWin may say what is in front.
    ASSERT_TRUE(send(stranger, calls[0]));
    EXPECT_EQ(tracker->frontmost(), std::nullopt);

    ASSERT_TRUE(send(kwin, calls[0]));
    ASSERT_TRUE(tracker->frontmost());
    const FrontmostApp kate = *tracker->frontmost();
    EXPECT_EQ(kate.pid, 4242);
    EXPECT_EQ(kate.appId, u"org.kde.kate"_s);
    EXPECT_EQ(kate.windowClass, u"kate"_s);
    EXPECT_EQ(kate.name, u"notes.txt — Kate"_s);
    EXPECT_FALSE(kate.isOwnProcess);

    ASSERT_TRUE(send(kwin, calls[1]));
    ASSERT_TRUE(tracker->frontmost());
    EXPECT_EQ(tracker->frontmost()->pid, 5151);
    EXPECT_EQ(tracker->frontmost()->windowInstance, u"xterm"_s);
    EXPECT_FALSE(tracker->frontmost()->appId.isEmpty());
    EXPECT_NE(tracker->frontmost()->window, kate.window);

    ASSERT_TRUE(send(kwin, calls[2]));
    EXPECT_EQ(tracker->frontmost(), std::nullopt);

    // Going away takes the script out of KWin.
    scripting.calls.clear();
    tracker.reset();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return scripting.calls == QStringList{u"unloadScript tindrel-window-in-front"_s}; },
        5000));
}

// KWin drops an unloaded script only a moment later and refuses its name
// until then, as after a run that left its script behind: asked once more,
// then given up on.
TEST(KWinWindowTracker, AsksOnceMoreWhenKWinStillHoldsTheName) {
    PrivateBus bus;
    ASSERT_FALSE(bus.address().isEmpty()) << "dbus-daemon did not start";
    QDBusConnection kwin = QDBusConnection::connectToBus(bus.address(), u"fake-kwin"_s);
    const auto disconnect = qScopeGuard([] { QDBusConnection::disconnectFromBus(u"fake-kwin"_s); });
    FakeKWinScripting scripting;
    ASSERT_TRUE(kwin.registerService(u"org.kde.KWin"_s));
    ASSERT_TRUE(kwin.registerObject(u"/Scripting"_s, &scripting, QDBusConnection::ExportAllSlots));
    const QByteArray savedDesktop = qgetenv("XDG_CURRENT_DESKTOP");
    const auto restore = qScopeGuard([&] { qputenv("XDG_CURRENT_DESKTOP", savedDesktop); });
    qputenv("XDG_CURRENT_DESKTOP", "KDE");

    const QString unload = u"unloadScript tindrel-window-in-front"_s;
    const QString load = u"loadScript tindrel-window-in-front"_s;
    struct Case {
        int refusals;
        QStringList calls;
    };
    const Case cases[] = {
        {2, {unload, load, load}}, // first: one that loaded unloads as it goes
        {1, {unload, load, load, u"start"_s}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.refusals);
        scripting.calls.clear();
        scripting.refusals = c.refusals;
        auto tracker = KWinWindowTracker::connect(bus.connection());
        ASSERT_TRUE(tracker);
        EXPECT_TRUE(QTest::qWaitFor([&] { return scripting.calls == c.calls; }, 5000))
            << scripting.calls.join(u", "_s).toStdString();
    }
}

// The script that brings a window to the front, run as KWin 5 and KWin 6
// would run it: it finds the window by KWin's id or by its X11 id and sets
// it active through the property that version has. Only ids go into it.
TEST(KWinWindowTracker, ActivationScriptFindsTheWindowUnderKWin5And6) {
    const QString node = QStandardPaths::findExecutable(u"node"_s);
    if (node.isEmpty())
        GTEST_SKIP() << "node is not installed";
    struct Case {
        QString window;
        QString active;
    };
    const Case cases[] = {
        {u"{8d1a3c52-0d5e-4c1c-9a53-6f0c2b1e7d10}"_s, u"wayland"_s},
        {u"{1f2e3d4c-5b6a-4798-8a9b-0c1d2e3f4a5b}"_s, u"x11"_s},
        {u"4194310"_s, u"x11"_s},
        {u"{2a3b4c5d-6e7f-4081-9293-a4b5c6d7e8f9}"_s, u"late"_s},
        {u"{00000000-0000-0000-0000-000000000000}"_s, u"none"_s},
    };
    QTemporaryFile script;
    ASSERT_TRUE(script.open());
    for (const Case& c : cases) {
        for (const QString& version : {u"5"_s, u"6"_s}) {
            SCOPED_TRACE((c.window + u" KWin "_s + version).toStdString());
            ASSERT_TRUE(script.resize(0) && script.seek(0));
            script.write(KWinWindowTracker::activationScript(c.window));
            script.flush();
            QProcess harness;
            harness.start(node, {QStringLiteral(TINDREL_KWIN_ACTIVATION_HARNESS), script.fileName(),
                                 version});
            ASSERT_TRUE(harness.waitForFinished(10000));
            ASSERT_EQ(harness.exitCode(), 0) << harness.readAllStandardError().toStdString();
            EXPECT_EQ(QString::fromUtf8(harness.readAllStandardOutput()).trimmed(), c.active);
        }
    }
    for (const QString& bad : {u""_s, u"\"); evil(\""_s, u"{abc} "_s, u"12a"_s})
        EXPECT_TRUE(KWinWindowTracker::activationScript(bad).isEmpty()) << bad.toStdString();
}

#include "KWinWindowTrackerTest.moc"
