#include "KdeSession.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

// The tindrel program in a Plasma session: KWin offers data-control, so the
// clipboard comes from Wayland, whichever kind of client copied.
TEST_F(KdeTindrelTest, CapturesCopiesOfWaylandAndX11Clients) {
    start();
    EXPECT_TRUE(
        log().contains(u"Tindrel: clipboard through Wayland (zwlr_data_control_manager_v1)"_s))
        << log().toStdString();

    client(u"wl-copy"_s, {u"--foreground"_s, u"--"_s, u"copied on Wayland under KWin"_s});
    EXPECT_TRUE(recorded(u"copied on Wayland under KWin"_s)) << log().toStdString();
    EXPECT_EQ(tindrel.state(), QProcess::Running);
}
