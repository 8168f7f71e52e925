#pragma once

#include "core/shortcuts/KeyCombo.h"

#include <QWidget>
#include <optional>

class HotKeyManager;
class Preferences;
class QFormLayout;
class QLabel;
class ShortcutRecorderView;

// The global shortcuts (recorded, and checked against what other programs
// hold), the pinned-clip shortcuts, and the fixed keys inside the panel.
class ShortcutsPane : public QWidget {
    Q_OBJECT
public:
    ShortcutsPane(Preferences& prefs, HotKeyManager& hotKeys,
                  const KeyCombo::BaseKeysym& baseKeysym, QWidget* parent = nullptr);

    ShortcutRecorderView* openPanelRecorder() const { return m_openPanel; }
    ShortcutRecorderView* pauseRecorder() const { return m_pause; }
    // The warning under the shortcuts, empty when there is none.
    QString conflictWarning() const;

private:
    ShortcutRecorderView* recorder(std::optional<KeyCombo> (Preferences::*get)() const,
                                   void (Preferences::*set)(const std::optional<KeyCombo>&),
                                   void (Preferences::*changed)(),
                                   const KeyCombo::BaseKeysym& baseKeysym);
    void validate(const std::optional<KeyCombo>& combo);

    Preferences& m_prefs;
    HotKeyManager& m_hotKeys;
    ShortcutRecorderView* m_openPanel = nullptr;
    ShortcutRecorderView* m_pause = nullptr;
    QFormLayout* m_global = nullptr;
    QWidget* m_warningRow = nullptr;
    QLabel* m_warning = nullptr;
};
