#include "core/shortcuts/HotKeyManager.h"

#include "core/prefs/Preferences.h"
#include "core/util/Log.h"
#include "platform/HotKeyService.h"

#include <QPointer>

using namespace Qt::StringLiterals;

namespace {
// The conflict check's own registration; regular ids start at 1.
constexpr quint32 kProbeId = 0;
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
        logRefusal(it->combo, status);
        self->m_registrations.erase(it);
    };
}

HotKeyManager::~HotKeyManager() {
    unregisterAll();
    m_service.onPressed = nullptr;
    m_service.onLost = nullptr;
}

void HotKeyManager::reload(const Preferences& prefs) {
    unregisterAll();
    if (m_suspended)
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
        logRefusal(combo, status);
        return;
    }
    m_registrations.insert(id, {combo, action});
}

void HotKeyManager::logRefusal(const KeyCombo& combo, int status) {
    Log::write(u"Tindrel: could not register "_s + combo.displayString() + u" (X error "_s +
               QString::number(status) + u')');
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

void HotKeyManager::endRecording(const Preferences& prefs) {
    m_suspended = false;
    reload(prefs);
}

std::optional<QString> HotKeyManager::conflictMessage(const KeyCombo& combo,
                                                      const Preferences& prefs) {
    beginRecording(); // our own registrations are not conflicts
    const int status = m_service.registerHotKey(kProbeId, combo.keyCode, combo.carbonModifiers);
    if (status == 0)
        m_service.unregisterHotKey(kProbeId);
    endRecording(prefs);
    if (status == 0)
        return std::nullopt;
    return combo.displayString() + u" is already claimed by another app or the desktop."_s;
}
