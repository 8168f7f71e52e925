#pragma once

#include <QStringList>
#include <QWidget>

class QPushButton;

// The line at the top of the panel when Tindrel opened it by itself at
// start, because this desktop shows no tray icon of ours and no shortcut
// opens it: how to open it again. Shown for that one showing.
class StartNotice : public QWidget {
    Q_OBJECT
public:
    static constexpr auto command = u"tindrel --toggle-panel";

    explicit StartNotice(QWidget* parent = nullptr);

    // The program (and arguments) that opens the desktop's keyboard shortcut
    // settings; empty hides the button.
    void setKeyboardSettings(const QStringList& program);

    QString text() const;
    QPushButton* copyButton() const { return m_copy; }
    QPushButton* settingsButton() const { return m_settings; }

private:
    QStringList m_program;
    QPushButton* m_copy;
    QPushButton* m_settings;
    QString m_text;
};
