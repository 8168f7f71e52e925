#pragma once

#include <QHash>
#include <QString>

// What a desktop fixture writes for its tests: NAME=value lines, or one
// "SKIP <reason>" line when it could not start the desktop.
struct FixtureFile {
    QHash<QString, QString> values;
    QString skip;

    // `notRun` becomes the reason to skip when there is no file.
    static FixtureFile read(const QString& path, const QString& notRun);
};
