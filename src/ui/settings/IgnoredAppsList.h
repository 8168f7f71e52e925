#pragma once

#include "platform/InstalledApp.h"

#include <QList>
#include <QStringList>
#include <QWidget>
#include <functional>

class Preferences;
class QListWidget;
class Workspace;

// The applications whose copies are never recorded, with buttons to add
// installed ones and remove the selected one. An entry whose application is
// no longer installed still shows, named by its identifier.
class IgnoredAppsList : public QWidget {
    Q_OBJECT
public:
    IgnoredAppsList(Preferences& prefs, Workspace& workspace, QWidget* parent = nullptr);

    // Asks the user for applications from those installed; their ids in the
    // order chosen, empty when cancelled. Tests replace it.
    std::function<QStringList(const QList<InstalledApp>& installed)> chooseApps;

    void addApps();
    void removeSelected();
    QListWidget* list() const { return m_list; }

private:
    void refresh();

    Preferences& m_prefs;
    Workspace& m_workspace;
    QListWidget* m_list;
};
