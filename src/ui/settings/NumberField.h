#pragma once

#include <QString>
#include <QWidget>

class QLabel;
class QSpinBox;

// A whole number with a stepper and a unit. What the user types is applied
// only when editing ends (Return, or focus leaving): typing 800 never passes
// through 8. A number outside the range is not applied; the field goes back
// to its value and says which numbers it takes.
class NumberField : public QWidget {
    Q_OBJECT
public:
    NumberField(const QString& title, int minimum, int maximum, const QString& suffix,
                const QString& help = {}, QWidget* parent = nullptr);

    QString title() const { return m_title; }
    int value() const;
    // Shows the value without reporting it as edited.
    void setValue(int value);
    void setRange(int minimum, int maximum);
    int minimum() const;
    int maximum() const;
    QSpinBox* editor() const { return m_spin; }
    // What the field says about the last number typed: empty, or its range.
    QString problem() const;

Q_SIGNALS:
    // The user committed a value (typed and confirmed, or stepped).
    void valueEdited(int value);

private:
    void refuse(bool outOfRange);

    QString m_title;
    QSpinBox* m_spin;
    QLabel* m_problem;
    bool m_programmatic = false;
};
