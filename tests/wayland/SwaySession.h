#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// What the sway fixture wrote: the compositor's socket and runtime folder,
// and the command prefix its clients run under; or why there is no
// compositor.
struct SwaySession {
    QString display;
    QString runtimeDir;
    QStringList runAs;
    QString skip;

    static SwaySession read();
    // `base` with the session's Wayland display and runtime folder.
    QProcessEnvironment
    environment(QProcessEnvironment base = QProcessEnvironment::systemEnvironment()) const;
    // The program and arguments that run `program` as the compositor's user.
    std::pair<QString, QStringList> asClient(const QString& program, const QStringList& args) const;
};
