#pragma once

#include "support/TempXdg.h"

#include <QProcess>
#include <QString>
#include <gtest/gtest.h>
#include <list>

// The headless KWin the fixture started: its Wayland socket, XWayland's
// display and the session bus KWin's own services live on; or why there is
// none.
struct KdeSession {
    QString waylandDisplay;
    QString runtimeDir;
    QString x11Display;
    QString busAddress;
    QString skip;

    static KdeSession read();
    // What a program started in this Plasma session finds around it.
    QProcessEnvironment environment() const;
};

// Tests against that KWin: skipped with the reason when there is none. The
// test process itself joins the session (its environment points there), so
// in-process clients reach KWin, XWayland and the session bus.
class KdeTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts a client of the session; ended when the test is over.
    QProcess& client(const QString& program, const QStringList& args);

    KdeSession session;
    std::list<QProcess> clients;

private:
    QList<QPair<QByteArray, QByteArray>> m_savedEnvironment;
};

// The tindrel program started in that session with its files in a
// temporary folder; ended by its PID when the test is over.
class KdeTindrelTest : public KdeTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts it with `settings` as its settings file's [General] lines, and
    // waits until it says which desktop it found.
    void start(const QByteArray& settings = {});
    QString log();
    // A command for the running instance, as a desktop shortcut would run it.
    QString command(const QStringList& arguments);
    // Whether `tindrel list` shows the text, within a few seconds.
    bool recorded(const QString& text);

    TempXdg xdg;
    QProcess tindrel;

private:
    QString m_log;
};

bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 15000);
