#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QToolButton;

// The top of the panel: a magnifying glass, the search field and a button
// that empties it, over a divider.
class PanelSearchBar : public QWidget {
    Q_OBJECT
public:
    explicit PanelSearchBar(QWidget* parent = nullptr);

    QLineEdit* field() const { return m_field; }
    // Shows `query` (left alone when the field holds it already, so the
    // cursor stays) and the clear button while there is any.
    void setQuery(const QString& query);

Q_SIGNALS:
    // The user typed or deleted.
    void queryEdited(const QString& query);
    // The clear button was pressed; the field keeps the keyboard.
    void cleared();

protected:
    void changeEvent(QEvent* event) override;

private:
    void applyColors();

    QLabel* m_glass = nullptr;
    QLineEdit* m_field = nullptr;
    QToolButton* m_clear = nullptr;
};
