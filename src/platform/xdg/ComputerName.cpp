#include "platform/xdg/ComputerName.h"

#include <QFile>
#include <QSysInfo>

namespace {
// One shell-style value: "double quoted" (backslash escapes), 'single
// quoted' (literal), or bare (backslash escapes, trailing blanks dropped).
QString unquote(const QString& raw) {
    const QString value = raw.trimmed();
    if (value.isEmpty())
        return {};
    QString out;
    const QChar quote = value.front();
    if (quote == u'\'') {
        const qsizetype end = value.indexOf(u'\'', 1);
        return end < 0 ? value.mid(1) : value.mid(1, end - 1);
    }
    const bool quoted = quote == u'"';
    for (qsizetype i = quoted ? 1 : 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (quoted && c == u'"')
            break;
        if (c == u'\\' && i + 1 < value.size()) {
            out.append(value.at(++i));
            continue;
        }
        out.append(c);
    }
    return out;
}
} // namespace

QString ComputerName::prettyHostname(const QByteArray& machineInfo) {
    QString name;
    const QStringList lines = QString::fromUtf8(machineInfo).split(u'\n');
    for (const QString& line : lines) {
        const QString trimmed = line.trimmed();
        if (trimmed.startsWith(u'#') || trimmed.startsWith(u';'))
            continue;
        const qsizetype equals = trimmed.indexOf(u'=');
        if (equals < 0 || trimmed.left(equals).trimmed() != QLatin1StringView("PRETTY_HOSTNAME"))
            continue;
        name = unquote(trimmed.mid(equals + 1)); // the last assignment wins
    }
    return name;
}

QString ComputerName::current(QStringView machineInfoPath) {
    QFile file(machineInfoPath.toString());
    if (file.open(QIODevice::ReadOnly)) {
        const QString pretty = prettyHostname(file.read(64 * 1024)).trimmed();
        if (!pretty.isEmpty())
            return pretty;
    }
    return QSysInfo::machineHostName();
}
