#pragma once

#include <QString>
#include <QWidget>

class QLabel;
class QSpinBox;

// A whole number with a stepper and a unit. What the user types is applied
// only when editing ends (Return, or focus leaving) and is then clamped into
// the range: typing 800 never passes through 8, and 5000 becomes the maximum.
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

Q_SIGNALS:
    // The user committed a value (typed and confirmed, or stepped).
    void valueEdited(int value);

private:
    QString m_title;
    QSpinBox* m_spin;
    bool m_programmatic = false;
};
