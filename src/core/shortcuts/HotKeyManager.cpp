#include "core/shortcuts/HotKeyManager.h"

#include "core/prefs/Preferences.h"
#include "core/util/Log.h"
#include "platform/HotKeyService.h"

#include <QPointer>

using namespace Qt::StringLiterals;

namespace {
// The conflict check's own registration; regular ids start at 1.
constexpr quint32 kProbeId = 0;

// A stable name and a description per action, for desktops that list our
// shortcuts to the user and remember the keys chosen for each.
std::pair<QString, QString> purpose(const HotKeyManager::Action& action) {
    switch (action.kind) {
    case HotKeyManager::Action::Kind::openPanel:
        return {u"toggle-panel"_s, u"Open Tindrel"_s};
    case HotKeyManager::Action::Kind::togglePause:
        return {u"toggle-pause"_s, u"Pause / resume tracking"_s};
    case HotKeyManager::Action::Kind::pastePinned:
        break;
    }
    const QString position = QString::number(action.index + 1);
    return {u"paste-pinned-"_s + position, u"Paste pinned clip "_s + position};
}
} // namespace

HotKeyManager::HotKeyManager(HotKeyService& service, QObject* parent)
    : QObject(parent), m_service(service) {
    // Presses are handed on as a separate main-thread task, and only while
    // this manager exists.
    m_service.onPressed = [self = QPointer<HotKeyManager>(this)](quint32 id) {
        if (!self)
            return;
        QMetaObject::invokeMethod(
            self, [self, id] { self->dispatch(id); }, Qt::QueuedConnection);
    };
    m_service.onLost = [self = QPointer<HotKeyManager>(this)](quint32 id, int status) {
        if (!self)
            return;
        const auto it = self->m_registrations.constFind(id);
        if (it == self->m_registrations.constEnd())
            return;
        const Registration lost = *it;
        self->m_registrations.erase(it);
        self->refuse(lost, status);
    };
    m_service.onRebound = [self = QPointer<HotKeyManager>(this)](quint32 id, quint32 keyCode,
                                                                 quint32 modifiers) {
        if (self)
            self->follow(id, keyCode == 0 ? std::nullopt
                                          : std::optional<KeyCombo>(KeyCombo{keyCode, modifiers}));
    };
    m_service.onAvailabilityChanged = [self = QPointer<HotKeyManager>(this)] {
        if (!self)
            return;
        if (!self->isAvailable()) {
            self->m_registrations.clear(); // the service has given them up
            self->logUnavailable();
        } else if (self->m_prefs) {
            self->reload(*self->m_prefs);
        }
        Q_EMIT self->availabilityChanged();
    };
    if (!isAvailable())
        logUnavailable();
}

bool HotKeyManager::isAvailable() const {
    return m_service.isAvailable();
}

QString HotKeyManager::problem() const {
    return m_service.problem();
}

void HotKeyManager::logUnavailable() const {
    const QString why = m_service.problem();
    Log::write(u"Tindrel: no global shortcuts in this session"_s +
               (why.isEmpty() ? QString() : u" ("_s + why + u')') +
               u"; bind \"tindrel --toggle-panel\" in your desktop's keyboard settings"_s);
}

HotKeyManager::~HotKeyManager() {
    unregisterAll();
    m_service.onPressed = nullptr;
    m_service.onLost = nullptr;
    m_service.onRebound = nullptr;
    m_service.onAvailabilityChanged = nullptr;
}

void HotKeyManager::reload(Preferences& prefs) {
    m_prefs = &prefs;
    unregisterAll();
    if (!m_refusals.isEmpty()) {
        m_refusals.clear();
        Q_EMIT refusalsChanged();
    }
    if (m_suspended || !isAvailable())
        return;
    if (const std::optional<KeyCombo> combo = prefs.openPanelHotKey())
        registerCombo(*combo, Action::openPanel());
    if (const std::optional<KeyCombo> combo = prefs.togglePauseHotKey())
        registerCombo(*combo, Action::togglePause());
    const PinnedShortcutModifier modifier = prefs.pinnedModifier();
    if (modifier == PinnedShortcutModifier::disabled)
        return;
    for (int i = 0; i < int(KeyCombo::numberRow.size()) && i < prefs.pinLimit(); ++i)
        registerCombo(KeyCombo{KeyCombo::numberRow[size_t(i)], modifierMask(modifier)},
                      Action::pastePinned(i));
}

void HotKeyManager::registerCombo(const KeyCombo& combo, Action action) {
    const quint32 id = m_nextId++; // spent even when refused
    const int status = m_service.registerHotKey(id, combo.keyCode, combo.carbonModifiers);
    if (status != 0) {
        refuse({combo, action}, status);
        return;
    }
    const auto [name, description] = purpose(action);
    m_service.describe(id, name, description);
    m_registrations.insert(id, {combo, action});
}

void HotKeyManager::refuse(const Registration& registration, int status) {
    logRefusal(registration.combo, status);
    m_refusals.append({registration.action, registration.combo.displayString() +
                                                u" is not bound: "_s +
                                                m_service.statusText(status) + u'.'});
    Q_EMIT refusalsChanged();
}

std::optional<QString> HotKeyManager::refusal(const Action& action) const {
    for (const auto& [refused, text] : m_refusals)
        if (refused == action)
            return text;
    return std::nullopt;
}

void HotKeyManager::follow(quint32 id, const std::optional<KeyCombo>& combo) {
    const auto it = m_registrations.constFind(id);
    if (it == m_registrations.constEnd() || !m_prefs || it->combo == combo)
        return;
    const Action action = it->action;
    const QString keys = combo ? combo->displayString() : u"no keys"_s;
    Log::write(u"Tindrel: the desktop's settings gave \""_s + purpose(action).second + u"\" "_s +
               keys);
    // Setting the preference reloads the shortcuts, which the desktop then
    // holds already: nothing goes back to it.
    switch (action.kind) {
    case Action::Kind::openPanel:
        m_prefs->setOpenPanelHotKey(combo);
        return;
    case Action::Kind::togglePause:
        m_prefs->setTogglePauseHotKey(combo);
        return;
    case Action::Kind::pastePinned:
        break;
    }
    // The pinned clips share one modifier: another one for this clip's
    // digit is a new modifier for all of them.
    if (combo && combo->keyCode == KeyCombo::numberRow[size_t(action.index)]) {
        for (const PinnedShortcutModifier modifier :
             {PinnedShortcutModifier::altSuper, PinnedShortcutModifier::ctrlShift,
              PinnedShortcutModifier::ctrlSuper, PinnedShortcutModifier::shiftSuper}) {
            if (modifierMask(modifier) == combo->carbonModifiers) {
                m_prefs->setPinnedModifier(modifier);
                return;
            }
        }
    }
    // Anything else cannot be kept for one clip alone: ours go back.
    Log::write(u"Tindrel: pinned clips keep "_s + it->combo.displayString() +
               u"; their keys are set in Tindrel's Shortcuts settings"_s);
    QMetaObject::invokeMethod(
        this, [this] { reload(*m_prefs); }, Qt::QueuedConnection);
}

void HotKeyManager::logRefusal(const KeyCombo& combo, int status) const {
    Log::write(u"Tindrel: could not register "_s + combo.displayString() + u" ("_s +
               m_service.statusText(status) + u')');
}

void HotKeyManager::unregisterAll() {
    for (auto it = m_registrations.cbegin(); it != m_registrations.cend(); ++it)
        m_service.unregisterHotKey(it.key());
    m_registrations.clear();
}

void HotKeyManager::dispatch(quint32 id) {
    // Unregistered between the press and now: nothing to do.
    const auto it = m_registrations.constFind(id);
    if (it == m_registrations.constEnd())
        return;
    Q_EMIT triggered(it->action);
}

void HotKeyManager::beginRecording() {
    m_suspended = true;
    unregisterAll();
}

void HotKeyManager::endRecording(Preferences& prefs) {
    m_suspended = false;
    reload(prefs);
}

std::optional<QString> HotKeyManager::conflictMessage(const KeyCombo& combo, Preferences& prefs) {
    // Nothing to check against: the desktop's own settings hold the keys.
    if (!isAvailable())
        return std::nullopt;
    beginRecording(); // our own registrations are not conflicts
    const int status = m_service.registerHotKey(kProbeId, combo.keyCode, combo.carbonModifiers);
    if (status == 0)
        m_service.unregisterHotKey(kProbeId);
    endRecording(prefs);
    if (status == 0)
        return std::nullopt;
    return combo.displayString() + u" is already claimed by another app or the desktop."_s;
}
