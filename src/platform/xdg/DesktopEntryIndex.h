#pragma once

#include "platform/InstalledApp.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// The installed desktop entries (*.desktop under the XDG data folders),
// read once and again only when one of them changed. Gives the
// application identifier of a window and the list of installed applications.
class DesktopEntryIndex {
public:
    // $XDG_DATA_HOME/applications, then applications/ in each of $XDG_DATA_DIRS.
    static QStringList standardDirs();

    explicit DesktopEntryIndex(QStringList dirs = standardDirs());

    // The desktop-entry id (without ".desktop") a window belongs to, taken in
    // this order: the id the window names itself (GTK application id, KDE
    // desktop file), an entry whose StartupWMClass or file name matches the
    // window's class, then its instance, in any case; else the class.
    QString applicationId(const QString& gtkApplicationId, const QString& kdeDesktopFile,
                          const QString& wmInstance, const QString& wmClass);
    // Applications meant to be shown in menus, sorted by name.
    QList<InstalledApp> apps();

private:
    struct Entry {
        QString id;
        QString name;
        QString icon;
        QString startupWMClass;
        bool shown = true;
    };
    static QStringList entryFiles(const QString& dir);
    void refresh();
    void scan();

    QStringList m_dirs;
    QStringList m_signature; // every entry file with its size and time of change
    QList<Entry> m_entries;
    bool m_scanned = false;
};
