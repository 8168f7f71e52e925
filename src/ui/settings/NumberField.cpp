#include "ui/settings/NumberField.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QSpinBox>

namespace {
// QSpinBox refuses keystrokes that leave its range, so "5000" could not be
// typed into 0...1000 at all. This one takes any digits and leaves the
// clamping to the moment the value is taken over.
class ClampingSpinBox : public QSpinBox {
public:
    using QSpinBox::QSpinBox;

protected:
    QValidator::State validate(QString& input, int&) const override {
        if (input.isEmpty())
            return QValidator::Intermediate;
        if (input.size() > 9)
            return QValidator::Invalid;
        for (const QChar c : input) {
            if (!c.isDigit())
                return QValidator::Invalid;
        }
        return QValidator::Acceptable;
    }
    int valueFromText(const QString& text) const override {
        return int(std::clamp<qint64>(text.toLongLong(), minimum(), maximum()));
    }
    QString textFromValue(int value) const override { return QString::number(value); }
};
} // namespace

NumberField::NumberField(const QString& title, int minimum, int maximum, const QString& suffix,
                         const QString& help, QWidget* parent)
    : QWidget(parent), m_title(title), m_spin(new ClampingSpinBox(this)) {
    m_spin->setRange(minimum, maximum);
    m_spin->setKeyboardTracking(false);
    m_spin->setAccessibleName(title);
    m_spin->setMinimumWidth(84);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    row->addWidget(m_spin);
    if (!suffix.isEmpty()) {
        auto* unit = new QLabel(suffix, this);
        unit->setForegroundRole(QPalette::PlaceholderText);
        row->addWidget(unit);
    }
    row->addStretch(1);
    setToolTip(help);
    connect(m_spin, &QSpinBox::valueChanged, this, [this](int value) {
        if (!m_programmatic)
            Q_EMIT valueEdited(value);
    });
}

int NumberField::value() const {
    return m_spin->value();
}

void NumberField::setValue(int value) {
    m_programmatic = true;
    m_spin->setValue(value);
    m_programmatic = false;
}

void NumberField::setRange(int minimum, int maximum) {
    m_programmatic = true;
    m_spin->setRange(minimum, maximum);
    m_programmatic = false;
}

int NumberField::minimum() const {
    return m_spin->minimum();
}

int NumberField::maximum() const {
    return m_spin->maximum();
}
