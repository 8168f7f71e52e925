#include "SwaySession.h"
#include "platform/wayland/SwayWindowTracker.h"
#include "support/QtPrinters.h"

#include <QProcess>
#include <QTest>
#include <gtest/gtest.h>
#include <list>

using namespace Qt::StringLiterals;

// The window in front as the real headless sway reports it, with native
// Wayland windows of known app ids.
class SwayFrontmostTest : public SwayTest {
protected:
    void SetUp() override {
        SwayTest::SetUp();
        if (IsSkipped())
            return;
        ASSERT_FALSE(session.swaySocket.isEmpty()) << "sway wrote no IPC socket";
        tracker = SwayWindowTracker::connect(session.swaySocket);
        ASSERT_TRUE(tracker);
    }

    void TearDown() override {
        for (QProcess& window : windows) {
            window.kill();
            window.waitForFinished();
        }
    }

    // Opens a native window under `appId`; new windows take the focus.
    QProcess& open(const QString& appId) {
        QProcess& window = windows.emplace_back();
        session.start(window, QStringLiteral(TINDREL_WAYLAND_TEXT_FIELD), {appId});
        EXPECT_TRUE(window.waitForStarted());
        return window;
    }

    bool frontIs(const QString& appId) {
        return QTest::qWaitFor(
            [&] {
                const auto front = tracker->frontmost();
                return front && front->appId == appId;
            },
            20000);
    }

    std::unique_ptr<SwayWindowTracker> tracker;
    std::list<QProcess> windows;
};

TEST_F(SwayFrontmostTest, FollowsTheFocusAndBringsAWindowBack) {
    QProcess& first = open(u"io.tindrel.FirstWindow"_s);
    ASSERT_TRUE(frontIs(u"io.tindrel.FirstWindow"_s));
    const FrontmostApp firstApp = *tracker->frontmost();
    EXPECT_EQ(firstApp.pid, first.processId());
    EXPECT_EQ(firstApp.windowClass, u"io.tindrel.FirstWindow"_s);
    EXPECT_FALSE(firstApp.isOwnProcess);

    open(u"io.tindrel.SecondWindow"_s);
    ASSERT_TRUE(frontIs(u"io.tindrel.SecondWindow"_s));
    EXPECT_NE(tracker->frontmost()->window, firstApp.window);

    // What the paste flow does to return to the window a clip was chosen for.
    ASSERT_TRUE(tracker->activate(firstApp));
    EXPECT_TRUE(frontIs(u"io.tindrel.FirstWindow"_s));

    // Its window gone, focus lands on the other one.
    first.kill();
    EXPECT_TRUE(frontIs(u"io.tindrel.SecondWindow"_s));
}
