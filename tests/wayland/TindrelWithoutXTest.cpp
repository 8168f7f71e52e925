#include "PrivateBus.h"
#include "SwaySession.h"
#include "support/TempXdg.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRect>
#include <QTest>
#include <gtest/gtest.h>
#include <list>

using namespace Qt::StringLiterals;

namespace {
bool waitUntil(const std::function<bool()>& condition) {
    return QTest::qWaitFor(condition, 15000);
}

// A window of ours in sway's tree.
struct SwayWindow {
    bool found = false;
    bool floating = false;
    QRect rect;
};

void findIn(const QJsonObject& node, bool floating, SwayWindow& out) {
    if (node.value(u"app_id"_s).toString() == u"io.tindrel.Tindrel"_s) {
        const QJsonObject r = node.value(u"rect"_s).toObject();
        out = {true, floating,
               QRect(r.value(u"x"_s).toInt(), r.value(u"y"_s).toInt(), r.value(u"width"_s).toInt(),
                     r.value(u"height"_s).toInt())};
        return;
    }
    for (const QJsonValue child : node.value(u"nodes"_s).toArray())
        findIn(child.toObject(), floating, out);
    for (const QJsonValue child : node.value(u"floating_nodes"_s).toArray())
        findIn(child.toObject(), true, out);
}
} // namespace

// The tindrel program in a Wayland session with no X server at all (the
// fixture's sway runs without XWayland): native Wayland windows, the
// clipboard through data-control, shortcuts left to the desktop.
class TindrelWithoutX : public SwayTest {
protected:
    void SetUp() override {
        SwayTest::SetUp();
        if (IsSkipped())
            return;
        ASSERT_FALSE(bus.address().isEmpty());
        QProcessEnvironment env = environment();
        tindrel.setProcessEnvironment(env);
        tindrel.setProcessChannelMode(QProcess::MergedChannels);
        tindrel.start(QStringLiteral(TINDREL_BINARY), {});
        ASSERT_TRUE(tindrel.waitForStarted());
        ASSERT_TRUE(waitUntil([this] { return log().contains(u"Tindrel: clipboard through"_s); }))
            << log().toStdString();
    }

    void TearDown() override {
        for (QProcess& process : clients) {
            process.kill();
            process.waitForFinished();
        }
        if (tindrel.state() != QProcess::NotRunning) {
            tindrel.terminate();
            if (!tindrel.waitForFinished(5000)) {
                tindrel.kill();
                tindrel.waitForFinished();
            }
        }
    }

    QProcessEnvironment environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"XDG_RUNTIME_DIR"_s, session.runtimeDir);
        env.insert(u"WAYLAND_DISPLAY"_s, session.display);
        env.insert(u"SWAYSOCK"_s, session.swaySocket); // as sway sets it for its clients
        env.remove(u"DISPLAY"_s);
        env.remove(u"QT_QPA_PLATFORM"_s);
        env.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, bus.address());
        return env;
    }

    QString log() {
        m_log += QString::fromUtf8(tindrel.readAll());
        return m_log;
    }

    // A command for the running instance, as a desktop shortcut would run it.
    QString command(const QStringList& args) {
        QProcess process;
        process.setProcessEnvironment(environment());
        process.start(QStringLiteral(TINDREL_BINARY), args);
        EXPECT_TRUE(process.waitForFinished(15000));
        EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
        return QString::fromUtf8(process.readAllStandardOutput());
    }

    QProcess& client(const QString& program, const QStringList& args) {
        QProcess& process = clients.emplace_back();
        session.start(process, program, args);
        EXPECT_TRUE(process.waitForStarted());
        return process;
    }

    QByteArray swaymsg(const QStringList& args) {
        QProcess& process = client(u"swaymsg"_s, QStringList{u"-s"_s, session.swaySocket} + args);
        process.waitForFinished(10000);
        return process.readAllStandardOutput();
    }

    SwayWindow panel() {
        SwayWindow window;
        findIn(QJsonDocument::fromJson(swaymsg({u"-t"_s, u"get_tree"_s})).object(), false, window);
        return window;
    }

    TempXdg xdg;
    PrivateBus bus;
    QProcess tindrel;
    std::list<QProcess> clients;

private:
    QString m_log;
};

TEST_F(TindrelWithoutX, CapturesACopyAndSaysHowItRuns) {
    // Sway lends a virtual keyboard and names the window in front.
    EXPECT_TRUE(log().contains(
        u"Tindrel: clipboard through Wayland (zwlr_data_control_manager_v1); pasting through the "
        "virtual keyboard; window in front from sway; no X11, so windows of our own are Wayland "
        "ones"_s))
        << log().toStdString();
    // No portal on this bus: the shortcut falls to the desktop, and says so.
    EXPECT_TRUE(waitUntil([this] {
        return log().contains(u"Tindrel: no global shortcuts in this session"_s);
    })) << log().toStdString();

    client(u"wl-copy"_s, {u"--foreground"_s, u"--"_s, u"copied on Wayland"_s});
    EXPECT_TRUE(
        waitUntil([this] { return command({u"list"_s}).contains(u"copied on Wayland"_s); }));
    EXPECT_EQ(tindrel.state(), QProcess::Running);
}

TEST_F(TindrelWithoutX, PanelFloatsInTheCentreAndClosesWhenTheFocusLeaves) {
    command({u"--toggle-panel"_s});
    ASSERT_TRUE(waitUntil([this] { return panel().found; }));
    const SwayWindow shown = panel();
    // Tiled, it would fill the screen; floating, sway centres it.
    EXPECT_TRUE(shown.floating);
    EXPECT_LT(shown.rect.width(), 1280);
    EXPECT_NEAR(shown.rect.center().x(), 640, 2);
    EXPECT_NEAR(shown.rect.center().y(), 400, 2);

    swaymsg({u"workspace"_s, u"2"_s});
    EXPECT_TRUE(waitUntil([this] { return !panel().found; }));
    swaymsg({u"workspace"_s, u"1"_s});
    EXPECT_FALSE(panel().found);
}
