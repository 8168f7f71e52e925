#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

// In place of a shortcut recorder where the session lets no program set
// global shortcuts: the command to bind in the desktop's own keyboard
// settings, and a button that puts it on the clipboard.
class DesktopShortcutHint : public QWidget {
    Q_OBJECT
public:
    explicit DesktopShortcutHint(const QString& command, QWidget* parent = nullptr);

    const QString& command() const { return m_command; }
    QString text() const;
    QPushButton* copyButton() const { return m_copy; }

private:
    QString m_command;
    QLabel* m_label;
    QPushButton* m_copy;
};
