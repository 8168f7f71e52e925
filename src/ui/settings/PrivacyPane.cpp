#include "ui/settings/PrivacyPane.h"

#include "core/prefs/Preferences.h"
#include "platform/KeySynth.h"
#include "platform/Workspace.h"
#include "ui/Symbols.h"
#include "ui/settings/Hint.h"
#include "ui/settings/IgnoredAppsList.h"
#include "ui/settings/PaneForm.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

using namespace Qt::StringLiterals;

namespace {
struct PermissionText {
    bool granted;
    QString text;
};

// In plain words: what the desktop lets Tindrel do, never more than it gave.
PermissionText describe(const Workspace& workspace, const KeySynth* keys) {
    switch (keys ? keys->permission() : PastePermission::notNeeded) {
    case PastePermission::notNeeded:
        break;
    case PastePermission::notAsked:
        return {false, u"Not asked yet: Tindrel asks the desktop the first time it pastes"_s};
    case PastePermission::asking:
        return {false, u"Waiting for the desktop's answer"_s};
    case PastePermission::granted:
        return {true, u"Granted by the desktop"_s};
    case PastePermission::refused:
        return {false, u"Refused: only X11 apps get pasted into"_s};
    case PastePermission::unavailable:
        return {false,
                u"Not available: the desktop cannot be asked, so only X11 apps get pasted into"_s};
    }
    if (workspace.isTrusted())
        return {true, u"Works in this session"_s};
    return {false, u"Not possible in this session: the desktop lets no app press keys in "
                   "another app's window"_s};
}
} // namespace

PrivacyPane::PrivacyPane(Preferences& prefs, Workspace& workspace, KeySynth* keys, QWidget* parent)
    : QWidget(parent), m_workspace(workspace), m_keys(keys) {
    PaneForm form(this, prefs);

    QFormLayout* never = form.section(u"Never capture"_s);
    form.toggle(never, u"Clips from password managers"_s, &Preferences::skipPasswordManagers,
                &Preferences::setSkipPasswordManagers, &Preferences::skipPasswordManagersChanged);
    form.toggle(never, u"Clips marked concealed or transient"_s, &Preferences::skipConcealedTypes,
                &Preferences::setSkipConcealedTypes, &Preferences::skipConcealedTypesChanged);
    form.hint(never, u"Password managers and other apps can mark a copy as private (KDE's "
                     "password manager hint, or a concealed or transient marker). Leaving both "
                     "on is strongly recommended."_s);

    QFormLayout* ignored = form.section(u"Ignored apps"_s);
    m_ignored = new IgnoredAppsList(prefs, workspace, this);
    ignored->addRow(m_ignored);
    form.hint(ignored,
              u"Anything copied while one of these apps is the active window is never recorded."_s);
    if (!workspace.seesFrontmost()) {
        const QString how = workspace.howToSeeFrontmost();
        form.hint(ignored, u"This desktop does not tell Tindrel which app is in front, so copies "
                           "from these apps are recorded anyway."_s +
                               (how.isEmpty() ? QString() : u" ("_s + how + u")"_s));
    }

    QFormLayout* access = form.section(u"Pasting"_s);
    access->addRow(u"Pressing Ctrl+V for you"_s, permissionRow());
    form.hint(access, u"Needed only so Tindrel can press Ctrl+V for you. Without it, clicking a "
                      "clip still copies it."_s);
    form.finish();
}

QWidget* PrivacyPane::permissionRow() {
    auto* row = new QWidget(this);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    m_permissionSign = new QLabel(row);
    layout->addWidget(m_permissionSign);
    m_permissionText = new QLabel(row);
    m_permissionText->setWordWrap(true);
    layout->addWidget(m_permissionText, 1);
    m_askAgain = new QPushButton(u"Ask Again"_s, row);
    m_askAgain->setToolTip(u"Ask the desktop again to let Tindrel paste"_s);
    connect(m_askAgain, &QPushButton::clicked, row, [this] {
        if (m_keys && m_keys->askAgain())
            showPermission();
    });
    layout->addWidget(m_askAgain);
    // The desktop answers in its own time (a dialog the user reads).
    if (m_keys)
        m_keys->onPermissionChanged = [this] { showPermission(); };
    showPermission();
    return row;
}

PrivacyPane::~PrivacyPane() {
    if (m_keys)
        m_keys->onPermissionChanged = nullptr;
}

void PrivacyPane::showPermission() {
    const PermissionText permission = describe(m_workspace, m_keys);
    const QColor color = permission.granted ? QColor(0x34, 0xa8, 0x53) : QColor(0xf0, 0x8a, 0x00);
    m_permissionSign->setPixmap(
        Symbols::tinted(permission.granted ? u"checkmark.circle.fill"_s : u"xmark.circle.fill"_s,
                        color, 16, devicePixelRatioF()));
    m_permissionText->setText(permission.text);
    m_askAgain->setVisible(m_keys && m_keys->permission() == PastePermission::refused);
}

void PrivacyPane::showEvent(QShowEvent* event) {
    // The desktop's answer may have come since the pane was last shown.
    showPermission();
    QWidget::showEvent(event);
}

QString PrivacyPane::permissionText() const {
    return m_permissionText->text();
}
