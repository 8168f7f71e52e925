#pragma once

#include "core/shortcuts/KeyCombo.h"
#include "ui/settings/SettingsTab.h"

#include <QHash>
#include <QMainWindow>

class ClipStore;
class Clock;
class FileManager;
class HotKeyManager;
class KeySynth;
class Preferences;
class QActionGroup;
class QStackedWidget;
class QToolBar;
class ServiceDiscovery;
class SettingsStore;
class SyncIdentity;
class SyncService;
class Workspace;

// The settings window: a toolbar of tabs over one pane each. Built once;
// closing only hides it. It never refuses to close: a refusal would also
// refuse the application's quit. Each tab has its own content size, and
// switching keeps the window's top edge. The last tab shown is remembered.
class SettingsWindow : public QMainWindow {
    Q_OBJECT
public:
    struct Services {
        Preferences& prefs;
        ClipStore& store;
        HotKeyManager& hotKeys;
        Workspace& workspace;
        FileManager& files;
        SettingsStore& settings; // for "lastSettingsTab"
        KeyCombo::BaseKeysym baseKeysym;
        SyncService& sync;
        SyncIdentity& identity;
        ServiceDiscovery& discovery;
        const Clock& clock;
        QString syncLogPath;
        // What the desktop said about pasting, where it asks; may be null.
        KeySynth* keySynth = nullptr;
        // Whether the clipboard is read on a timer (its period is a setting
        // then) rather than as it reports each change.
        bool clipboardPolls = true;
    };

    explicit SettingsWindow(Services services, QWidget* parent = nullptr);

    // Shows the window in front of whatever has the focus.
    void showInFront();
    void select(SettingsTab tab);
    SettingsTab current() const { return m_current; }
    // The pane of a tab, built on first use.
    QWidget* pane(SettingsTab tab);

protected:
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* buildPane(SettingsTab tab);
    void paintToolbarIcons();
    void addKeys();
    bool isTabButton(const QWidget* widget) const;
    // The tab `by` places after the current one, round the end.
    void step(int by);

    Services m_services;
    QStackedWidget* m_stack;
    QToolBar* m_toolbar = nullptr;
    QActionGroup* m_tabs;
    QHash<int, QWidget*> m_panes;
    SettingsTab m_current = SettingsTab::general;
};
