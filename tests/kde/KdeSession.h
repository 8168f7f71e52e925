#pragma once

#include "support/DesktopSession.h"

// The headless KWin the fixture started: its Wayland socket, XWayland's
// display and the session bus KWin's own services live on; or why there is
// none.
DesktopSession readKdeSession();

// Tests against that KWin: skipped with the reason when there is none.
class KdeTest : public DesktopTest {
protected:
    KdeTest() : DesktopTest(readKdeSession) {}
};

// The tindrel program started in that KWin session.
class KdeTindrelTest : public DesktopTindrelTest {
protected:
    KdeTindrelTest() : DesktopTindrelTest(readKdeSession, QStringLiteral(TINDREL_BINARY)) {}
};
