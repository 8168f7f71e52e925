#include "SwaySession.h"

#include <QFile>

using namespace Qt::StringLiterals;

SwaySession SwaySession::read() {
    SwaySession session;
    QFile file(QStringLiteral(TINDREL_WAYLAND_ENV_FILE));
    if (!file.open(QIODevice::ReadOnly)) {
        session.skip = u"the headless sway fixture has not run"_s;
        return session;
    }
    for (const QString& line : QString::fromUtf8(file.readAll()).split(u'\n')) {
        const QString value = line.section(u'=', 1);
        if (line.startsWith(u"SKIP "_s))
            session.skip = line.mid(5);
        else if (line.startsWith(u"WAYLAND_DISPLAY="_s))
            session.display = value;
        else if (line.startsWith(u"XDG_RUNTIME_DIR="_s))
            session.runtimeDir = value;
        else if (line.startsWith(u"SWAYSOCK="_s))
            session.swaySocket = value;
        else if (line.startsWith(u"RUN_AS="_s))
            session.runAs = value.split(u' ', Qt::SkipEmptyParts);
    }
    return session;
}

void SwaySession::start(QProcess& process, const QString& program, const QStringList& args) const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"XDG_RUNTIME_DIR"_s, runtimeDir);
    env.insert(u"WAYLAND_DISPLAY"_s, display);
    env.remove(u"DISPLAY"_s);
    process.setProcessEnvironment(env);
    if (runAs.isEmpty())
        process.start(program, args);
    else
        process.start(runAs.first(), runAs.mid(1) + QStringList{program} + args);
}

void SwayTest::SetUp() {
    session = SwaySession::read();
    if (!session.skip.isEmpty())
        GTEST_SKIP() << "no Wayland compositor: " << session.skip.toStdString();
    qputenv("XDG_RUNTIME_DIR", session.runtimeDir.toLocal8Bit());
    qputenv("WAYLAND_DISPLAY", session.display.toLocal8Bit());
}
