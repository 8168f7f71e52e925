#include "ui/settings/PaneForm.h"

#include "ui/settings/Hint.h"
#include "ui/settings/NumberField.h"

#include <QGroupBox>
#include <QVBoxLayout>

PaneForm::PaneForm(QWidget* pane, Preferences& prefs)
    : m_pane(pane), m_prefs(prefs), m_column(new QVBoxLayout(pane)) {
    m_column->setContentsMargins(20, 16, 20, 16);
    m_column->setSpacing(12);
}

QFormLayout* PaneForm::section(const QString& title) {
    auto* group = new QGroupBox(title, m_pane);
    auto* form = new QFormLayout(group);
    form->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);
    form->setLabelAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    form->setFormAlignment(Qt::AlignLeft | Qt::AlignTop);
    form->setRowWrapPolicy(QFormLayout::DontWrapRows);
    m_column->addWidget(group);
    return form;
}

void PaneForm::finish() {
    m_column->addStretch(1);
}

QCheckBox* PaneForm::toggle(QFormLayout* form, const QString& text,
                            bool (Preferences::*get)() const, void (Preferences::*set)(bool),
                            void (Preferences::*changed)()) {
    auto* box = new QCheckBox(text, m_pane);
    Preferences* prefs = &m_prefs;
    const auto show = [prefs, box, get] {
        const QSignalBlocker blocker(box);
        box->setChecked((prefs->*get)());
    };
    show();
    QObject::connect(prefs, changed, box, show);
    QObject::connect(box, &QCheckBox::toggled, box, [prefs, set](bool on) { (prefs->*set)(on); });
    form->addRow(box);
    return box;
}

NumberField* PaneForm::number(QFormLayout* form, NumberField* field,
                              int (Preferences::*get)() const, void (Preferences::*set)(int),
                              void (Preferences::*changed)()) {
    field->setParent(m_pane);
    Preferences* prefs = &m_prefs;
    const auto show = [prefs, field, get] { field->setValue((prefs->*get)()); };
    show();
    QObject::connect(prefs, changed, field, show);
    QObject::connect(field, &NumberField::valueEdited, field,
                     [prefs, set](int value) { (prefs->*set)(value); });
    form->addRow(field->title(), field);
    return field;
}

Hint* PaneForm::hint(QFormLayout* form, const QString& text) {
    auto* hint = new Hint(text, m_pane);
    form->addRow(hint);
    return hint;
}

void PaneForm::showWhile(QFormLayout* form, QWidget* field, std::function<bool()> shown,
                         std::initializer_list<void (Preferences::*)()> signals) {
    const auto apply = [form, field, shown] { form->setRowVisible(field, shown()); };
    apply();
    for (const auto signal : signals)
        QObject::connect(&m_prefs, signal, field, apply);
}
