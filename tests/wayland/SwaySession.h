#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>

// The headless sway the fixture started: its sockets and runtime folder,
// and the command prefix its clients run under; or why there is none.
struct SwaySession {
    QString display;
    QString runtimeDir;
    QString swaySocket;
    QStringList runAs;
    QString skip;

    static SwaySession read();
    // Starts a client of the compositor as the compositor's user.
    void start(QProcess& process, const QString& program, const QStringList& args) const;
};

// Tests against that sway: skipped with the reason when there is none.
// Clients of ours reach it through XDG_RUNTIME_DIR and WAYLAND_DISPLAY.
class SwayTest : public ::testing::Test {
protected:
    void SetUp() override;
    SwaySession session;
};
