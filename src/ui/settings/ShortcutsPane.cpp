#include "ui/settings/ShortcutsPane.h"

#include "core/prefs/Preferences.h"
#include "core/shortcuts/HotKeyManager.h"
#include "ui/Symbols.h"
#include "ui/settings/DesktopShortcutHint.h"
#include "ui/settings/Hint.h"
#include "ui/settings/PaneForm.h"
#include "ui/settings/ShortcutRecorderView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <functional>

using namespace Qt::StringLiterals;

namespace {
const QColor kWarningOrange(0xf0, 0x8a, 0x00);

QString pinnedOption(PinnedShortcutModifier modifier) {
    if (modifier == PinnedShortcutModifier::disabled)
        return modifierLabel(modifier);
    const QString mods = modifierLabel(modifier);
    return mods + u"1 … "_s + mods + u"0"_s;
}

QLabel* keyValue(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setForegroundRole(QPalette::PlaceholderText);
    return label;
}
} // namespace

ShortcutsPane::ShortcutsPane(Preferences& prefs, HotKeyManager& hotKeys,
                             const KeyCombo::BaseKeysym& baseKeysym, QWidget* parent)
    : QWidget(parent), m_prefs(prefs), m_hotKeys(hotKeys) {
    PaneForm form(this, prefs);

    QFormLayout* global = form.section(u"Global shortcuts"_s);
    m_global = global;
    m_openPanel = recorder(&Preferences::openPanelHotKey, &Preferences::setOpenPanelHotKey,
                           &Preferences::openPanelHotKeyChanged, baseKeysym);
    m_openPanelHint = new DesktopShortcutHint(u"tindrel --toggle-panel"_s, this);
    global->addRow(u"Open Tindrel"_s, either(m_openPanel, m_openPanelHint));
    m_pause = recorder(&Preferences::togglePauseHotKey, &Preferences::setTogglePauseHotKey,
                       &Preferences::togglePauseHotKeyChanged, baseKeysym);
    m_pauseHint = new DesktopShortcutHint(u"tindrel --toggle-pause"_s, this);
    global->addRow(u"Pause / resume tracking"_s, either(m_pause, m_pauseHint));

    m_warningRow = warningRow(&m_warning);
    global->addRow(m_warningRow);
    global->setRowVisible(m_warningRow, false);
    m_unboundRow = warningRow(&m_unbound);
    global->addRow(m_unboundRow);
    global->setRowVisible(m_unboundRow, false);

    QFormLayout* pinned = form.section(u"Pinned clips"_s);
    form.picker<PinnedShortcutModifier>(
        pinned, u"Global pinned shortcuts"_s, &Preferences::pinnedModifier,
        &Preferences::setPinnedModifier, &Preferences::pinnedModifierChanged, pinnedOption);
    Hint* pinnedHint = form.hint(pinned);
    const auto showPinnedHint = [this, &prefs, pinnedHint] {
        if (!m_hotKeys.isAvailable()) {
            pinnedHint->setText(u"This session lets no program set global shortcuts: paste "
                                "pinned clips from the panel."_s);
            return;
        }
        pinnedHint->setText(prefs.pinnedModifier() != PinnedShortcutModifier::disabled
                                ? u"Pastes pinned clips 1–10 from any app. Ctrl+1–0 is "
                                  "deliberately not offered — too many apps use it for tabs."_s
                                : u"Turn this on to paste a pinned clip from anywhere without "
                                  "opening the panel."_s);
    };
    showPinnedHint();
    connect(&prefs, &Preferences::pinnedModifierChanged, pinnedHint, showPinnedHint);
    connect(&m_hotKeys, &HotKeyManager::availabilityChanged, pinnedHint, showPinnedHint);
    form.toggle(pinned, u"Use Ctrl+1–Ctrl+0 for pinned clips inside the panel"_s,
                &Preferences::inPanelNumberKeys, &Preferences::setInPanelNumberKeys,
                &Preferences::inPanelNumberKeysChanged);

    QFormLayout* panel = form.section(u"Inside the panel"_s);
    panel->addRow(u"Move selection"_s, keyValue(u"↑ ↓"_s, this));
    panel->addRow(u"Paste selected clip"_s, keyValue(u"Return"_s, this));
    panel->addRow(u"Close"_s, keyValue(u"Esc"_s, this));
    panel->addRow(u"Filter clips"_s, keyValue(u"Type"_s, this));
    form.finish();

    // The portal's answer may come after the pane is built.
    showAvailability();
    connect(&m_hotKeys, &HotKeyManager::availabilityChanged, this,
            &ShortcutsPane::showAvailability);
    // The desktop may turn a shortcut down well after it was asked.
    connect(&m_hotKeys, &HotKeyManager::refusalsChanged, this, &ShortcutsPane::showUnbound);
}

QWidget* ShortcutsPane::warningRow(QLabel** text) {
    auto* row = new QWidget(this);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* sign = new QLabel(row);
    sign->setPixmap(Symbols::tinted(u"exclamationmark.triangle.fill"_s, kWarningOrange, 16,
                                    devicePixelRatioF()));
    auto* label = new QLabel(row);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    QPalette orange = label->palette();
    orange.setColor(QPalette::WindowText, kWarningOrange);
    label->setPalette(orange);
    layout->addWidget(sign, 0, Qt::AlignTop);
    layout->addWidget(label, 1);
    *text = label;
    return row;
}

QWidget* ShortcutsPane::either(QWidget* recorder, QWidget* hint) {
    auto* cell = new QWidget(this);
    auto* layout = new QVBoxLayout(cell);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(recorder);
    layout->addWidget(hint);
    return cell;
}

void ShortcutsPane::showAvailability() {
    const bool available = m_hotKeys.isAvailable();
    m_openPanel->setVisible(available);
    m_pause->setVisible(available);
    m_openPanelHint->setVisible(!available);
    m_pauseHint->setVisible(!available);
    if (!available)
        m_global->setRowVisible(m_warningRow, false);
    showUnbound();
}

ShortcutRecorderView*
ShortcutsPane::recorder(std::optional<KeyCombo> (Preferences::*get)() const,
                        void (Preferences::*set)(const std::optional<KeyCombo>&),
                        void (Preferences::*changed)(), const KeyCombo::BaseKeysym& baseKeysym) {
    auto* view = new ShortcutRecorderView(this);
    view->baseKeysym = baseKeysym;
    view->setCombo(std::invoke(get, m_prefs));
    // std::invoke, not .*, on m_prefs inside these lambdas: for a .* on a
    // member reached through a captured this, GCC 12's UBSan checks the
    // closure instead of the pane, reports a null pane and aborts the run.
    connect(&m_prefs, changed, view, [this, view, get] {
        if (!view->isRecording())
            view->setCombo(std::invoke(get, m_prefs));
    });
    // Our own grabs would fire instead of reaching the recorder.
    connect(view, &ShortcutRecorderView::recordingChanged, this, [this](bool recording) {
        if (recording)
            m_hotKeys.beginRecording();
        else
            m_hotKeys.endRecording(m_prefs);
    });
    connect(view, &ShortcutRecorderView::comboChanged, this,
            [this, set](const std::optional<KeyCombo>& combo) {
                std::invoke(set, m_prefs, combo);
                validate(combo);
            });
    return view;
}

void ShortcutsPane::validate(const std::optional<KeyCombo>& combo) {
    const std::optional<QString> conflict =
        combo ? m_hotKeys.conflictMessage(*combo, m_prefs) : std::nullopt;
    m_conflictKeys = conflict ? combo->displayString() : QString();
    m_warning->setText(conflict.value_or(QString()));
    m_global->setRowVisible(m_warningRow, conflict.has_value());
    showUnbound();
}

void ShortcutsPane::showUnbound() {
    // A shortcut the desktop did not bind is not shown as if it were; keys
    // just reported as held by another program need no second line.
    QList<HotKeyManager::Action> actions{HotKeyManager::Action::openPanel(),
                                         HotKeyManager::Action::togglePause()};
    for (int i = 0; i < int(KeyCombo::numberRow.size()); ++i)
        actions.append(HotKeyManager::Action::pastePinned(i));
    QStringList lines;
    for (const HotKeyManager::Action& action : std::as_const(actions)) {
        const std::optional<QString> refusal = m_hotKeys.refusal(action);
        if (refusal && (m_conflictKeys.isEmpty() || !refusal->startsWith(m_conflictKeys + u' ')))
            lines << *refusal;
    }
    // Without any, the reason may say how to get them (an extension to
    // turn on, say).
    if (!m_hotKeys.isAvailable())
        lines = m_hotKeys.problem().isEmpty()
                    ? QStringList()
                    : QStringList{u"No global shortcuts: "_s + m_hotKeys.problem() + u'.'};
    const bool shown = !lines.isEmpty();
    m_unbound->setText(lines.join(u'\n'));
    m_global->setRowVisible(m_unboundRow, shown);
}

QString ShortcutsPane::unboundWarning() const {
    return m_global->isRowVisible(m_unboundRow) ? m_unbound->text() : QString();
}

QString ShortcutsPane::conflictWarning() const {
    return m_warning->text();
}
