#include "ui/settings/NumberField.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QSpinBox>
#include <QTimer>
#include <functional>

using namespace Qt::StringLiterals;

namespace {
// QSpinBox refuses keystrokes that leave its range, so "5000" could not be
// typed into 0...1000 at all, and nothing would say why. This one takes any
// digits and judges the number when it is taken over: one outside the range
// keeps the value there was, and is reported.
class RangeSpinBox : public QSpinBox {
public:
    using QSpinBox::QSpinBox;
    // Told, each time a typed number is taken over, whether it was outside.
    std::function<void(bool outOfRange)> judged;

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
        const qint64 typed = text.toLongLong();
        const bool outside = typed < minimum() || typed > maximum();
        if (judged)
            judged(outside);
        return outside ? value() : int(typed);
    }
    QString textFromValue(int value) const override { return QString::number(value); }
};
} // namespace

NumberField::NumberField(const QString& title, int minimum, int maximum, const QString& suffix,
                         const QString& help, QWidget* parent)
    : QWidget(parent), m_title(title), m_spin(new RangeSpinBox(this)), m_problem(new QLabel(this)) {
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
    QPalette warning = m_problem->palette();
    warning.setColor(QPalette::WindowText, QColor(0xc0, 0x39, 0x2b));
    m_problem->setPalette(warning);
    m_problem->hide();
    row->addWidget(m_problem);
    row->addStretch(1);
    setToolTip(help);
    static_cast<RangeSpinBox*>(m_spin)->judged = [this](bool outOfRange) { refuse(outOfRange); };
    connect(m_spin, &QSpinBox::valueChanged, this, [this](int value) {
        if (!m_programmatic)
            Q_EMIT valueEdited(value);
    });
}

void NumberField::refuse(bool outOfRange) {
    m_problem->setText(outOfRange ? u"Enter %1 to %2"_s.arg(minimum()).arg(maximum()) : QString());
    m_problem->setVisible(outOfRange);
    m_spin->setAccessibleDescription(m_problem->text());
    // The typed text gives way to the value kept, once the spin box is done.
    if (outOfRange)
        QTimer::singleShot(0, m_spin, [this] { setValue(value()); });
}

QString NumberField::problem() const {
    return m_problem->text();
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
