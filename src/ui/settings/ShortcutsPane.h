#pragma once

#include "core/shortcuts/KeyCombo.h"

#include <QWidget>
#include <optional>

class DesktopShortcutHint;
class HotKeyManager;
class Preferences;
class QFormLayout;
class QLabel;
class ShortcutRecorderView;

// The global shortcuts (recorded, and checked against what other programs
// hold; where the session lets us set none, the command to bind in the
// desktop's settings), the pinned-clip shortcuts, and the fixed keys inside
// the panel.
class ShortcutsPane : public QWidget {
    Q_OBJECT
public:
    ShortcutsPane(Preferences& prefs, HotKeyManager& hotKeys,
                  const KeyCombo::BaseKeysym& baseKeysym, QWidget* parent = nullptr);

    ShortcutRecorderView* openPanelRecorder() const { return m_openPanel; }
    ShortcutRecorderView* pauseRecorder() const { return m_pause; }
    // What shows instead of the recorders where no global shortcut can be set.
    DesktopShortcutHint* openPanelHint() const { return m_openPanelHint; }
    DesktopShortcutHint* pauseHint() const { return m_pauseHint; }
    // The warning under the shortcuts, empty when there is none.
    QString conflictWarning() const;
    // The shortcuts the desktop did not bind and why, one a line; empty
    // when it bound them all (or has not answered yet).
    QString unboundWarning() const;

private:
    ShortcutRecorderView* recorder(std::optional<KeyCombo> (Preferences::*get)() const,
                                   void (Preferences::*set)(const std::optional<KeyCombo>&),
                                   void (Preferences::*changed)(),
                                   const KeyCombo::BaseKeysym& baseKeysym);
    void validate(const std::optional<KeyCombo>& combo);
    QWidget* either(QWidget* recorder, QWidget* hint);
    void showAvailability();
    void showUnbound();
    QWidget* warningRow(QLabel** text);

    Preferences& m_prefs;
    HotKeyManager& m_hotKeys;
    ShortcutRecorderView* m_openPanel = nullptr;
    ShortcutRecorderView* m_pause = nullptr;
    DesktopShortcutHint* m_openPanelHint = nullptr;
    DesktopShortcutHint* m_pauseHint = nullptr;
    QFormLayout* m_global = nullptr;
    QWidget* m_warningRow = nullptr;
    QLabel* m_warning = nullptr;
    QWidget* m_unboundRow = nullptr;
    QLabel* m_unbound = nullptr;
    QString m_conflictKeys; // the keys last recorded, when another program holds them
};
