#pragma once

#include "support/TempXdg.h"

class Workspace;

#include <QHash>
#include <QProcess>
#include <QString>
#include <functional>
#include <gtest/gtest.h>
#include <list>

// A real desktop session a CTest fixture started: its Wayland socket,
// XWayland's display and the session bus its own services live on, as the
// fixture's file names them; or why there is none.
struct DesktopSession {
    QString waylandDisplay;
    QString runtimeDir;
    QString x11Display;
    QString busAddress;
    QString skip;
    // Every line the fixture wrote, NAME=value.
    QHash<QString, QString> values;
    // What the desktop itself sets in its programs' environment.
    QHash<QString, QString> desktopVariables;

    static DesktopSession read(const QString& envFile, const QString& notRun,
                               const QHash<QString, QString>& desktopVariables);
    // What a program started in this session finds around it.
    QProcessEnvironment environment() const;
};

// Tests against that desktop: skipped with the reason when there is none.
// The test process itself joins the session (its environment points there),
// so in-process clients reach the compositor, XWayland and the session bus.
class DesktopTest : public ::testing::Test {
protected:
    explicit DesktopTest(std::function<DesktopSession()> reader) : m_reader(std::move(reader)) {}
    void SetUp() override;
    void TearDown() override;

    // Starts a client of the session; ended when the test is over.
    QProcess& client(const QString& program, const QStringList& args);
    // What a program run in the session prints; empty when it did not end.
    QString output(const QString& program, const QStringList& arguments);
    // Starts the X11 editor `helper` (tindrel_x11_helper) on XWayland,
    // saving into `saved`, and waits until `xwayland` names it as the active
    // window; its window id.
    quint32 x11Editor(const QString& helper, const QString& saved, Workspace& xwayland);
    // Whether a window of the tindrel program is shown on XWayland.
    bool tindrelWindowShown();

    DesktopSession session;
    std::list<QProcess> clients;

private:
    std::function<DesktopSession()> m_reader;
    QList<QPair<QByteArray, QByteArray>> m_savedEnvironment;
};

// The tindrel program started in that session with its files in a
// temporary folder; ended by its PID when the test is over.
class DesktopTindrelTest : public DesktopTest {
protected:
    DesktopTindrelTest(std::function<DesktopSession()> reader, QString binary)
        : DesktopTest(std::move(reader)), m_binary(std::move(binary)) {}
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
    QString m_binary;
    QString m_log;
};

bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 15000);
