#include "SwaySession.h"

#include "support/FixtureFile.h"

using namespace Qt::StringLiterals;

SwaySession SwaySession::read() {
    const FixtureFile fixture = FixtureFile::read(QStringLiteral(TINDREL_WAYLAND_ENV_FILE),
                                                  u"the headless sway fixture has not run"_s);
    SwaySession session;
    session.skip = fixture.skip;
    session.display = fixture.values.value(u"WAYLAND_DISPLAY"_s);
    session.runtimeDir = fixture.values.value(u"XDG_RUNTIME_DIR"_s);
    session.swaySocket = fixture.values.value(u"SWAYSOCK"_s);
    session.runAs = fixture.values.value(u"RUN_AS"_s).split(u' ', Qt::SkipEmptyParts);
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
