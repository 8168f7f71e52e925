#include "X11TestEnv.h"

#include "platform/x11/X11PointerWatcher.h"
#include "platform/x11/XcbConnection.h"

#include <QMenu>
#include <QMouseEvent>
#include <QWidget>
#include <QWindow>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using X11TestEnv::run;
using X11TestEnv::settle;
using X11TestEnv::waitUntil;

namespace {
bool xdotool(const QStringList& args) {
    return run(u"xdotool"_s, args);
}

// Clicks a button at a point on the screen.
bool clickAt(QPoint at, int button = 1) {
    return xdotool({u"mousemove"_s, QString::number(at.x()), QString::number(at.y()), u"click"_s,
                    QString::number(button)});
}

// A window of this process (Qt's own X connection, not the watcher's) that
// records the presses it gets.
class Target final : public QWidget {
public:
    QList<quint64> pressTimes;

protected:
    void mousePressEvent(QMouseEvent* event) override { pressTimes.append(event->timestamp()); }
};
} // namespace

class X11PointerWatcherTest : public ::testing::Test {
protected:
    X11PointerWatcherTest() {
        watcher.onPress = [this](const PointerWatcher::Press& press) { presses.append(press); };
        // Everything XInput sends this connection, reported or not.
        connection.addEventHandler(&context, [this](const xcb_generic_event_t& event) {
            if ((event.response_type & 0x7f) == XCB_GE_GENERIC)
                ++generic;
        });
    }

    XcbConnection connection;
    X11PointerWatcher watcher{connection};
    QObject context;
    QList<PointerWatcher::Press> presses;
    int generic = 0;
};

TEST_F(X11PointerWatcherTest, ReportsPressesWhileStartedAndLeavesThemToTheWindowUnderThem) {
    ASSERT_TRUE(watcher.isAvailable());
    Target target;
    target.setGeometry(200, 300, 240, 160);
    target.show();
    ASSERT_TRUE(
        waitUntil([&] { return target.isVisible() && target.windowHandle()->isExposed(); }));
    const QPoint inside = target.mapToGlobal(QPoint(120, 80));

    // Not started: the window gets its click, the server sends us nothing.
    ASSERT_TRUE(clickAt(inside));
    ASSERT_TRUE(waitUntil([&] { return target.pressTimes.size() == 1; }));
    settle();
    EXPECT_TRUE(presses.isEmpty());
    EXPECT_EQ(generic, 0);

    watcher.start();
    EXPECT_TRUE(watcher.isWatching());
    ASSERT_TRUE(clickAt(inside, 3));
    ASSERT_TRUE(waitUntil([&] { return presses.size() == 1 && target.pressTimes.size() == 2; }));
    EXPECT_EQ(presses[0].position, inside);
    // The same press as the window saw it: the panel tells its own clicks by this.
    EXPECT_EQ(presses[0].time, target.pressTimes[1]);

    // Wheel turns are not presses (over our window: the desktop background
    // would switch workspaces). Presses outside every window of ours count.
    ASSERT_TRUE(clickAt(inside, 4));
    const QPoint elsewhere(40, 700);
    ASSERT_TRUE(clickAt(elsewhere));
    ASSERT_TRUE(waitUntil([&] { return presses.size() >= 2; }));
    settle();
    ASSERT_EQ(presses.size(), 2);
    EXPECT_EQ(presses[1].position, elsewhere);

    // Stopped, it costs nothing: not one event more reaches the connection.
    watcher.stop();
    EXPECT_FALSE(watcher.isWatching());
    settle();
    const int before = generic;
    ASSERT_TRUE(clickAt(elsewhere));
    ASSERT_TRUE(clickAt(inside));
    ASSERT_TRUE(waitUntil([&] { return target.pressTimes.size() == 3; }));
    settle(300ms);
    EXPECT_EQ(presses.size(), 2);
    EXPECT_EQ(generic, before);
}

TEST_F(X11PointerWatcherTest, HearsPressesWhileAnotherConnectionGrabsThePointer) {
    ASSERT_TRUE(watcher.isAvailable());
    // An open menu grabs the pointer on Qt's connection: clicks elsewhere go
    // to the menu, and still reach the watcher.
    QMenu menu;
    menu.addAction(u"Something"_s);
    menu.popup(QPoint(300, 300));
    ASSERT_TRUE(waitUntil([&] { return menu.isVisible(); }));
    settle(200ms); // the grab is taken once the menu is mapped
    watcher.start();
    ASSERT_TRUE(clickAt(QPoint(900, 650)));
    EXPECT_TRUE(waitUntil([&] { return !presses.isEmpty(); }));
    EXPECT_TRUE(waitUntil([&] { return !menu.isVisible(); }));
    watcher.stop();
}
