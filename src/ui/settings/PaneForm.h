#pragma once

#include "core/prefs/Preferences.h"
#include "core/prefs/RawEnum.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QSignalBlocker>
#include <functional>

class Hint;
class NumberField;
class QVBoxLayout;

// Builds a settings pane as a column of titled sections of rows, with the
// controls bound to a setting both ways: a change by the user is assigned at
// once, and a change from elsewhere (a reset, the panel) shows at once.
class PaneForm {
public:
    // Lays out `pane`; the pane owns everything added. The builder itself
    // may go once the pane is built: no binding refers to it.
    PaneForm(QWidget* pane, Preferences& prefs);

    // A titled group of rows; an empty title gives a group without one.
    QFormLayout* section(const QString& title);
    // Pushes the sections to the top; call after the last one.
    void finish();

    QCheckBox* toggle(QFormLayout* form, const QString& text, bool (Preferences::*get)() const,
                      void (Preferences::*set)(bool), void (Preferences::*changed)());
    // Adds the field as a row under its title, bound to an integer setting.
    NumberField* number(QFormLayout* form, NumberField* field, int (Preferences::*get)() const,
                        void (Preferences::*set)(int), void (Preferences::*changed)());
    Hint* hint(QFormLayout* form, const QString& text = {});
    // Shows the row holding `field` while `shown` says so, re-checked on
    // every one of `signals` from the preferences.
    void showWhile(QFormLayout* form, QWidget* field, std::function<bool()> shown,
                   std::initializer_list<void (Preferences::*)()> signals);

    // A drop-down over all cases of an enumeration, in their order.
    template <typename E>
    QComboBox* picker(QFormLayout* form, const QString& label, E (Preferences::*get)() const,
                      void (Preferences::*set)(E), void (Preferences::*changed)(),
                      const std::function<QString(E)>& name) {
        auto* box = new QComboBox(m_pane);
        for (const RawCase<E>& c : allCases<E>())
            box->addItem(name(c.value), c.raw.toString());
        Preferences* prefs = &m_prefs;
        const auto show = [prefs, box, get] {
            const QSignalBlocker blocker(box);
            box->setCurrentIndex(box->findData(rawValue((prefs->*get)())));
        };
        show();
        QObject::connect(prefs, changed, box, show);
        QObject::connect(box, &QComboBox::activated, box, [prefs, box, set](int index) {
            if (const auto value = fromRawValue<E>(box->itemData(index).toString()))
                (prefs->*set)(*value);
        });
        form->addRow(label, box);
        return box;
    }

    Preferences& prefs() const { return m_prefs; }

private:
    QWidget* m_pane;
    Preferences& m_prefs;
    QVBoxLayout* m_column;
};
