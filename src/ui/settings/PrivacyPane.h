#pragma once

#include <QWidget>

class IgnoredAppsList;
class KeySynth;
class Preferences;
class QLabel;
class QPushButton;
class Workspace;

// What is never captured, and whether Tindrel can paste for the user.
class PrivacyPane : public QWidget {
    Q_OBJECT
public:
    // `keys` (may be null) tells what the desktop said about typing into
    // other applications, where it asks.
    PrivacyPane(Preferences& prefs, Workspace& workspace, KeySynth* keys = nullptr,
                QWidget* parent = nullptr);
    ~PrivacyPane() override;

    IgnoredAppsList* ignoredApps() const { return m_ignored; }

    // What the auto-paste permission row says now.
    QString permissionText() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* permissionRow();
    void showPermission();

    Workspace& m_workspace;
    KeySynth* m_keys;
    IgnoredAppsList* m_ignored;
    QLabel* m_permissionSign = nullptr;
    QLabel* m_permissionText = nullptr;
    QPushButton* m_askAgain = nullptr;
};
