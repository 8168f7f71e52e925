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
        if (line.startsWith(u"SKIP "_s))
            session.skip = line.mid(5);
        else if (line.startsWith(u"WAYLAND_DISPLAY="_s))
            session.display = line.section(u'=', 1);
        else if (line.startsWith(u"XDG_RUNTIME_DIR="_s))
            session.runtimeDir = line.section(u'=', 1);
        else if (line.startsWith(u"RUN_AS="_s))
            session.runAs = line.section(u'=', 1).split(u' ', Qt::SkipEmptyParts);
    }
    return session;
}

QProcessEnvironment SwaySession::environment(QProcessEnvironment base) const {
    base.insert(u"XDG_RUNTIME_DIR"_s, runtimeDir);
    base.insert(u"WAYLAND_DISPLAY"_s, display);
    return base;
}

std::pair<QString, QStringList> SwaySession::asClient(const QString& program,
                                                      const QStringList& args) const {
    if (runAs.isEmpty())
        return {program, args};
    return {runAs.first(), runAs.mid(1) + QStringList{program} + args};
}
