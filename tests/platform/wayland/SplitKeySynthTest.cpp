#include "platform/wayland/SplitKeySynth.h"
#include "support/FakeKeySynth.h"
#include "support/FakeWorkspace.h"

#include <gtest/gtest.h>
#include <vector>

using namespace Qt::StringLiterals;

// Which way a paste goes under KWin or mutter, decided by what XWayland says is in front.
class SplitKeySynthTest : public ::testing::Test {
protected:
    FakeKeySynth xtest;
    FakeWorkspace xwayland;
    FakeKeySynth portal;
    SplitKeySynth keys{xtest, xwayland, portal};
};

TEST_F(SplitKeySynthTest, SendsEachChordTheWayThatReachesTheWindowInFront) {
    struct Case {
        const char* name;
        bool x11InFront;
        bool portalAccepts;
        bool sent;
        QList<PasteChord> viaXTest;
        QList<PasteChord> viaPortal;
    };
    const Case cases[] = {
        // XWayland names an active window only while an X11 one has the focus.
        {"X11 window", true, false, true, {PasteChord::CtrlShiftV}, {}},
        {"Wayland window", false, true, true, {}, {PasteChord::CtrlShiftV}},
        // The portal not (yet) allowing is not reported as a paste.
        {"Wayland window, portal says no", false, false, false, {}, {PasteChord::CtrlShiftV}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        xtest.sent.clear();
        portal.sent.clear();
        xwayland.front =
            c.x11InFront ? std::optional(FakeWorkspace::app(u"xterm"_s)) : std::nullopt;
        portal.accepts = c.portalAccepts;
        EXPECT_EQ(keys.sendChord(PasteChord::CtrlShiftV), c.sent);
        // As vectors: Qt 6.4 compares two empty lists with memcmp on null,
        // which the undefined-behaviour sanitizer reports.
        EXPECT_EQ(std::vector(xtest.sent.begin(), xtest.sent.end()),
                  std::vector(c.viaXTest.begin(), c.viaXTest.end()));
        EXPECT_EQ(std::vector(portal.sent.begin(), portal.sent.end()),
                  std::vector(c.viaPortal.begin(), c.viaPortal.end()));
    }
}

TEST_F(SplitKeySynthTest, ReportsThePortalsGrantAndXWaylandsModifiers) {
    for (const PastePermission grant :
         {PastePermission::notAsked, PastePermission::granted, PastePermission::refused}) {
        portal.grant = grant;
        EXPECT_EQ(keys.permission(), grant);
    }
    // The user's "ask again" is a question for the portal.
    EXPECT_TRUE(keys.askAgain());
    EXPECT_EQ(portal.askedAgain, 1);
    EXPECT_EQ(xtest.askedAgain, 0);
    // And its answer is the router's news.
    int told = 0;
    keys.onPermissionChanged = [&told] { ++told; };
    ASSERT_TRUE(portal.onPermissionChanged);
    portal.onPermissionChanged();
    EXPECT_EQ(told, 1);
    // Our own windows are X11 ones: XWayland sees the keys held over them.
    xtest.heldChecks = 1;
    EXPECT_TRUE(keys.modifiersHeld());
    EXPECT_FALSE(keys.modifiersHeld());
}
