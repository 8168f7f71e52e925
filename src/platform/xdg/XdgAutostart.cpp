#include "platform/xdg/XdgAutostart.h"

#include "platform/xdg/XdgPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTextStream>

using namespace Qt::StringLiterals;

XdgAutostart::XdgAutostart(QString entryPath, QString program)
    : m_entryPath(std::move(entryPath)), m_program(std::move(program)) {}

XdgAutostart::XdgAutostart()
    : XdgAutostart(defaultEntryPath(), QCoreApplication::applicationFilePath()) {}

QString XdgAutostart::defaultEntryPath() {
    return XdgPaths::autostartDir() + u"/io.tindrel.Tindrel.desktop"_s;
}

QString XdgAutostart::execValue(const QString& program) {
    static const QString reserved = u" \t\n\"'\\><~|&;$*?#()`"_s;
    bool needsQuotes = false;
    for (QChar c : program)
        needsQuotes = needsQuotes || reserved.contains(c);

    QString argument;
    if (needsQuotes) {
        argument = u"\""_s;
        for (QChar c : program) {
            if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
                argument += u'\\';
            argument += c;
        }
        argument += u'"';
    } else {
        argument = program;
    }

    // Field codes start with %, and the value itself is an escaped string.
    QString value;
    for (QChar c : argument) {
        if (c == u'%')
            value += u"%%"_s;
        else if (c == u'\\')
            value += u"\\\\"_s;
        else if (c == u'\n')
            value += u"\\n"_s;
        else if (c == u'\t')
            value += u"\\t"_s;
        else
            value += c;
    }
    return value;
}

bool XdgAutostart::isEnabled() const {
    QFile file(m_entryPath);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    QTextStream in(&file);
    bool inMainGroup = false;
    QString line;
    while (in.readLineInto(&line)) {
        line = line.trimmed();
        if (line.startsWith(u'[')) {
            inMainGroup = line == u"[Desktop Entry]";
            continue;
        }
        if (!inMainGroup || line.startsWith(u'#'))
            continue;
        const qsizetype equals = line.indexOf(u'=');
        if (equals > 0 && QStringView(line).left(equals).trimmed() == u"Hidden" &&
            QStringView(line).mid(equals + 1).trimmed() == u"true")
            return false;
    }
    return true;
}

std::optional<QString> XdgAutostart::setEnabled(bool enabled) {
    if (!enabled) {
        QFile file(m_entryPath);
        if (!QFileInfo::exists(m_entryPath) || file.remove())
            return std::nullopt;
        return u"Could not remove %1: %2"_s.arg(m_entryPath, file.errorString());
    }

    const QString folder = QFileInfo(m_entryPath).absolutePath();
    if (!QDir().mkpath(folder))
        return u"Could not create the folder %1."_s.arg(folder);
    QSaveFile file(m_entryPath);
    if (file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        const QString entry = u"[Desktop Entry]\n"
                              u"Type=Application\n"
                              u"Name=Tindrel\n"
                              u"Comment=Clipboard history\n"
                              u"Exec=%1\n"
                              u"Icon=io.tindrel.Tindrel\n"
                              u"Terminal=false\n"_s.arg(execValue(m_program));
        file.write(entry.toUtf8());
        if (file.commit())
            return std::nullopt;
    }
    return u"Could not write %1: %2"_s.arg(m_entryPath, file.errorString());
}
