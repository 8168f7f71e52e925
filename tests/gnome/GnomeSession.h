#pragma once

#include "support/DesktopSession.h"

// The headless GNOME Shell the fixture started, with our Shell extension
// enabled: its Wayland socket, XWayland's display and cookie, and the
// session bus the Shell, the portals and the tests share; or why there is
// none. Desktop entries for the app ids io.tindrel.TestField and
// io.tindrel.TestOther are installed there, so the Shell knows those apps.
DesktopSession readGnomeSession();

// Tests against that Shell: skipped with the reason when there is none.
class GnomeTest : public DesktopTest {
protected:
    GnomeTest() : DesktopTest(readGnomeSession) {}

    // Presses a chord ("ctrl+alt+v", "super+1", "Return": X keysym names or
    // single characters, with ctrl/alt/shift/super) on the session's only
    // keyboard, as a person would; true once every key is down and up again.
    bool pressKeys(const QString& chord);
    // The Shell's log, to explain a failure.
    QString shellLog() const;
};

// The tindrel program started in that GNOME session.
class GnomeTindrelTest : public DesktopTindrelTest {
protected:
    GnomeTindrelTest() : DesktopTindrelTest(readGnomeSession, QStringLiteral(TINDREL_BINARY)) {}

    bool pressKeys(const QString& chord);
    QString shellLog() const;
};

// What GnomeTest::pressKeys does, for any test joined to the session.
bool pressGnomeKeys(const DesktopSession& session, const QString& chord);
QString gnomeShellLog(const DesktopSession& session);
