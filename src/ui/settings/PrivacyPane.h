#pragma once

#include <QWidget>

class IgnoredAppsList;
class Preferences;
class Workspace;

// What is never captured, and whether Tindrel can paste for the user.
class PrivacyPane : public QWidget {
    Q_OBJECT
public:
    PrivacyPane(Preferences& prefs, Workspace& workspace, QWidget* parent = nullptr);

    IgnoredAppsList* ignoredApps() const { return m_ignored; }

private:
    IgnoredAppsList* m_ignored;
};
