#pragma once

#include "core/shortcuts/KeyCombo.h"

#include <QWidget>
#include <functional>
#include <optional>

// The control that records a global shortcut: click it, press the chord.
// While recording it shows the modifiers held, Esc cancels, Delete or
// Backspace clears, and a chord that needs Ctrl, Alt or Super but has none
// beeps and keeps recording. It holds the keyboard while it records, so a
// chord another program grabbed still reaches it (and can be warned about).
class ShortcutRecorderView : public QWidget {
    Q_OBJECT
public:
    explicit ShortcutRecorderView(QWidget* parent = nullptr);

    std::optional<KeyCombo> combo() const { return m_combo; }
    // Shows a value set elsewhere; reports nothing.
    void setCombo(const std::optional<KeyCombo>& combo);
    bool isRecording() const { return m_recording; }
    // The text the control shows now.
    QString text() const;

    // Names a shifted key by what is printed on it (see KeyCombo::fromEvent).
    KeyCombo::BaseKeysym baseKeysym;
    // The alert sound for a refused chord.
    std::function<void()> beep;

    QSize sizeHint() const override;

Q_SIGNALS:
    // The user set or cleared the shortcut; sent before recording ends.
    void comboChanged(const std::optional<KeyCombo>& combo);
    void recordingChanged(bool recording);

protected:
    bool event(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void startRecording();
    void stopRecording();
    void finish();
    void trackModifiers(const QKeyEvent& event, bool pressed);

    std::optional<KeyCombo> m_combo;
    bool m_recording = false;
    quint32 m_liveModifiers = 0;
};
