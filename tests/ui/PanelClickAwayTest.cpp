#include "PanelFixture.h"

#include <QMenu>

using namespace Qt::StringLiterals;

namespace {
// Tells Qt's side of a press: one of our windows got it, with this time stamp.
void qtDelivers(QWidget& window, quint64 time) {
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(1, 1), QPointF(1, 1), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    press.setTimestamp(time);
    QApplication::sendEvent(&window, &press);
}
} // namespace

TEST_F(PanelFixture, WatchesPressesOnlyWhileOpenAndAsksForTheKeyboardOnEveryShowing) {
    fill({}, {u"one"_s});
    EXPECT_FALSE(pointer.watching);
    open();
    EXPECT_TRUE(pointer.watching);
    ASSERT_EQ(workspace.activated.size(), 1);
    EXPECT_EQ(workspace.activated.front().window, panel->window()->winId());
    EXPECT_TRUE(workspace.activated.front().isOwnProcess);
    key(Qt::Key_Escape);
    EXPECT_FALSE(pointer.watching);
    QCoreApplication::processEvents();

    open();
    EXPECT_TRUE(pointer.watching);
    EXPECT_EQ(workspace.activated.size(), 2);
    close();
    EXPECT_FALSE(pointer.watching);

    // Closed some other way: the next press ends the watch.
    open();
    panel->window()->hide();
    EXPECT_TRUE(pointer.press(QPoint(1, 1)));
    EXPECT_FALSE(pointer.watching);
}

TEST_F(PanelFixture, APressClosesThePanelOnlyOutsideOurOwnWindows) {
    fill({}, {u"one"_s});
    struct Case {
        const char* name;
        bool inside;          // the press lands inside the panel
        bool overOtherWindow; // another window of ours (a dialog) is under it
        bool menuOpen;        // a menu of ours is open
        quint64 qtPressTime;  // Qt gave a window of ours a press with this time; 0 none
        bool staysOpen;
    };
    const Case cases[] = {
        {"outside", false, false, false, 0, false},
        {"inside the panel", true, false, false, 0, true},
        {"on a dialog of ours", false, true, false, 0, true},
        {"anywhere while our menu is open", false, false, true, 0, true},
        {"already handed to a window of ours", false, false, false, 500, true},
        {"after an earlier press of ours", false, false, false, 499, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        open();
        ASSERT_TRUE(panel->isVisible());
        const QRect frame = panel->window()->frameGeometry();
        const QPoint at = c.inside ? frame.center() : frame.bottomRight() + QPoint(40, 40);

        QWidget dialog;
        if (c.overOtherWindow) {
            dialog.setGeometry(QRect(at - QPoint(50, 50), QSize(100, 100)));
            dialog.show();
        }
        QMenu menu;
        if (c.menuOpen) {
            menu.addAction(u"Pin"_s);
            menu.popup(frame.center());
            ASSERT_EQ(QApplication::activePopupWidget(), &menu);
        }
        if (c.qtPressTime != 0) {
            // The window that got it (a menu closed by that very click) is gone.
            QWidget gone;
            qtDelivers(gone, c.qtPressTime);
        }

        EXPECT_TRUE(pointer.press(at, 500));
        QCoreApplication::processEvents();
        EXPECT_EQ(panel->isVisible(), c.staysOpen);
        EXPECT_EQ(pointer.watching, c.staysOpen);
        menu.close();
        close();
    }
}
