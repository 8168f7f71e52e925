#include "support/FixtureFile.h"

#include <QFile>

using namespace Qt::StringLiterals;

FixtureFile FixtureFile::read(const QString& path, const QString& notRun) {
    FixtureFile fixture;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        fixture.skip = notRun;
        return fixture;
    }
    for (const QString& line : QString::fromUtf8(file.readAll()).split(u'\n')) {
        if (line.startsWith(u"SKIP "_s))
            fixture.skip = line.mid(5);
        else if (const qsizetype equals = line.indexOf(u'='); equals > 0)
            fixture.values.insert(line.left(equals), line.mid(equals + 1));
    }
    return fixture;
}
