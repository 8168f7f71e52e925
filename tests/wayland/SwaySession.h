#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

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
