#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// Points the XDG base directories at a fresh temporary folder for the life
// of the object, and restores the previous values afterwards.
class TempXdg {
public:
    TempXdg();
    ~TempXdg();
    TempXdg(const TempXdg&) = delete;
    TempXdg& operator=(const TempXdg&) = delete;

    QString root() const { return m_dir.path(); }
    QString path(const QString& relative) const { return m_dir.filePath(relative); }

private:
    QTemporaryDir m_dir;
    QByteArray m_saved[3];
    bool m_had[3] = {};
};
