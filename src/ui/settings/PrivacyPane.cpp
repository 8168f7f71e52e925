#include "ui/settings/PrivacyPane.h"

#include "core/prefs/Preferences.h"
#include "platform/Workspace.h"
#include "ui/Alerts.h"
#include "ui/Symbols.h"
#include "ui/settings/Hint.h"
#include "ui/settings/IgnoredAppsList.h"
#include "ui/settings/PaneForm.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

using namespace Qt::StringLiterals;

namespace {
QWidget* permissionRow(bool trusted, QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    const QColor color = trusted ? QColor(0x34, 0xa8, 0x53) : QColor(0xf0, 0x8a, 0x00);
    auto* sign = new QLabel(row);
    sign->setPixmap(Symbols::tinted(trusted ? u"checkmark.circle.fill"_s : u"xmark.circle.fill"_s,
                                    color, 16, row->devicePixelRatioF()));
    layout->addWidget(sign);
    layout->addWidget(new QLabel(trusted ? u"Granted"_s : u"Not granted"_s, row));
    if (!trusted) {
        auto* why = new QPushButton(u"Open Settings…"_s, row);
        QObject::connect(why, &QPushButton::clicked, row, [] { Alerts::explainPasting(); });
        layout->addWidget(why);
    }
    layout->addStretch(1);
    return row;
}
} // namespace

PrivacyPane::PrivacyPane(Preferences& prefs, Workspace& workspace, QWidget* parent)
    : QWidget(parent) {
    PaneForm form(this, prefs);

    QFormLayout* never = form.section(u"Never capture"_s);
    form.toggle(never, u"Clips from password managers"_s, &Preferences::skipPasswordManagers,
                &Preferences::setSkipPasswordManagers, &Preferences::skipPasswordManagersChanged);
    form.toggle(never, u"Clips marked concealed or transient"_s, &Preferences::skipConcealedTypes,
                &Preferences::setSkipConcealedTypes, &Preferences::skipConcealedTypesChanged);
    form.hint(never, u"Password managers and other apps can mark a copy as private, with the "
                     "org.nspasteboard.org types (ConcealedType, TransientType) or KDE's "
                     "x-kde-passwordManagerHint. Leaving both on is strongly recommended."_s);

    QFormLayout* ignored = form.section(u"Ignored apps"_s);
    m_ignored = new IgnoredAppsList(prefs, workspace, this);
    ignored->addRow(m_ignored);
    form.hint(ignored,
              u"Anything copied while one of these apps is frontmost is never recorded."_s);
    if (!workspace.seesFrontmost())
        form.hint(ignored, u"This desktop does not tell Tindrel which app is in front, so copies "
                           "from these apps are recorded anyway."_s);

    QFormLayout* access = form.section(u"Accessibility"_s);
    access->addRow(u"Auto-paste permission"_s, permissionRow(workspace.isTrusted(), this));
    form.hint(access, u"Needed only so Tindrel can press Ctrl+V for you. Without it, clicking a "
                      "clip still copies it."_s);
    form.finish();
}
