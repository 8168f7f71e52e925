#include "platform/xdg/DesktopEntryIndex.h"

#include "platform/xdg/XdgPaths.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <algorithm>

using namespace Qt::StringLiterals;

namespace {
constexpr QLatin1String kSuffix(".desktop");

QString stripSuffix(QString id) {
    if (id.endsWith(kSuffix))
        id.chop(kSuffix.size());
    return id;
}

QString unescape(const QString& value) {
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        if (c != u'\\' || i + 1 == value.size()) {
            out.append(c);
            continue;
        }
        const QChar next = value[++i];
        switch (next.unicode()) {
        case 's':
            out.append(u' ');
            break;
        case 'n':
            out.append(u'\n');
            break;
        case 't':
            out.append(u'\t');
            break;
        case 'r':
            out.append(u'\r');
            break;
        default:
            out.append(next);
            break;
        }
    }
    return out;
}

// The keys of the [Desktop Entry] group; localized variants are skipped.
QHash<QString, QString> readMainGroup(const QString& path) {
    QHash<QString, QString> keys;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text) || file.size() > 1024 * 1024)
        return keys;
    bool inMain = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[')) {
            if (inMain)
                break;
            inMain = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inMain)
            continue;
        const qsizetype eq = line.indexOf(u'=');
        if (eq <= 0)
            continue;
        const QString key = line.left(eq).trimmed();
        if (key.contains(u'[') || keys.contains(key))
            continue;
        keys.insert(key, unescape(line.mid(eq + 1).trimmed()));
    }
    return keys;
}
} // namespace

QStringList DesktopEntryIndex::standardDirs() {
    QString dataDirs = qEnvironmentVariable("XDG_DATA_DIRS");
    if (dataDirs.isEmpty())
        dataDirs = u"/usr/local/share:/usr/share"_s;
    QStringList dirs{XdgPaths::dataHome() + QLatin1String("/applications")};
    for (const QString& dir : dataDirs.split(u':', Qt::SkipEmptyParts))
        dirs.append(dir + QLatin1String("/applications"));
    return dirs;
}

DesktopEntryIndex::DesktopEntryIndex(QStringList dirs) : m_dirs(std::move(dirs)) {}

QStringList DesktopEntryIndex::entryFiles(const QString& dir) {
    QStringList files;
    QDirIterator it(dir, {u"*.desktop"_s}, QDir::Files,
                    QDirIterator::Subdirectories | QDirIterator::FollowSymlinks);
    while (it.hasNext())
        files.append(it.next());
    files.sort();
    return files;
}

void DesktopEntryIndex::refresh() {
    // Listing the files and their times is cheap; reading them is not. A
    // change of any of them (an installed or removed application) rereads all.
    QStringList signature;
    for (const QString& dir : std::as_const(m_dirs)) {
        for (const QString& path : entryFiles(dir)) {
            const QFileInfo info(path);
            signature.append(path + u' ' + QString::number(info.size()) + u' ' +
                             QString::number(info.lastModified().toMSecsSinceEpoch()));
        }
    }
    if (m_scanned && signature == m_signature)
        return;
    m_signature = signature;
    scan();
}

void DesktopEntryIndex::scan() {
    m_scanned = true;
    m_entries.clear();
    QSet<QString> taken; // the first folder that has an id decides it
    for (const QString& dir : std::as_const(m_dirs)) {
        const QDir base(dir);
        for (const QString& path : entryFiles(dir)) {
            // An entry in a subfolder gets the folder in its id: kde4/a.desktop is kde4-a.
            const QString id = stripSuffix(base.relativeFilePath(path).replace(u'/', u'-'));
            if (taken.contains(id))
                continue;
            taken.insert(id);
            const QHash<QString, QString> keys = readMainGroup(path);
            // Hidden means deleted: it hides entries of the same id further down.
            if (keys.value(u"Hidden"_s) == QLatin1String("true") ||
                keys.value(u"Type"_s) != QLatin1String("Application"))
                continue;
            Entry entry;
            entry.id = id;
            entry.name = keys.value(u"Name"_s, id);
            entry.icon = keys.value(u"Icon"_s);
            entry.startupWMClass = keys.value(u"StartupWMClass"_s);
            entry.shown = keys.value(u"NoDisplay"_s) != QLatin1String("true");
            m_entries.append(entry);
        }
    }
}

QString DesktopEntryIndex::applicationId(const QString& gtkApplicationId,
                                         const QString& kdeDesktopFile, const QString& wmInstance,
                                         const QString& wmClass) {
    if (!gtkApplicationId.trimmed().isEmpty())
        return stripSuffix(gtkApplicationId.trimmed());
    if (!kdeDesktopFile.trimmed().isEmpty())
        return stripSuffix(QFileInfo(kdeDesktopFile.trimmed()).fileName());
    if (wmClass.isEmpty() && wmInstance.isEmpty())
        return QString();
    refresh();
    // The class names the application more reliably than the instance.
    // Classes compare without case, as the desktop-entry format has it: KWin
    // reports XTerm as xterm, and the app must keep its id there.
    for (const QString& name : {wmClass, wmInstance}) {
        if (name.isEmpty())
            continue;
        for (const Entry& e : std::as_const(m_entries))
            if (e.startupWMClass == name)
                return e.id;
        for (const Entry& e : std::as_const(m_entries))
            if (e.startupWMClass.compare(name, Qt::CaseInsensitive) == 0)
                return e.id;
        for (const Entry& e : std::as_const(m_entries))
            if (e.id.compare(name, Qt::CaseInsensitive) == 0)
                return e.id;
    }
    return wmClass.isEmpty() ? wmInstance : wmClass;
}

QList<InstalledApp> DesktopEntryIndex::apps() {
    refresh();
    QList<InstalledApp> result;
    for (const Entry& e : std::as_const(m_entries))
        if (e.shown)
            result.append({e.id, e.name, e.icon});
    std::sort(result.begin(), result.end(), [](const InstalledApp& a, const InstalledApp& b) {
        const int byName = a.name.localeAwareCompare(b.name);
        return byName != 0 ? byName < 0 : a.id < b.id;
    });
    return result;
}
