#pragma once

#include <QWidget>

class PanelResizeGrip;
class QToolButton;

// The bottom of the panel, under a divider: "Clear History" on the left;
// settings, "Quit" and the resize grip on the right.
class PanelFooter : public QWidget {
    Q_OBJECT
public:
    explicit PanelFooter(QWidget* parent = nullptr);

    PanelResizeGrip* grip() const { return m_grip; }

Q_SIGNALS:
    void clearHistoryClicked();
    void settingsClicked();
    void quitClicked();

protected:
    void changeEvent(QEvent* event) override;

private:
    QToolButton* addButton(const QString& text);
    void applyColors();

    QWidget* m_bar = nullptr;
    QToolButton* m_settings = nullptr;
    PanelResizeGrip* m_grip = nullptr;
};
