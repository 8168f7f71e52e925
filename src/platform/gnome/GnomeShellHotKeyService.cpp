#include "platform/gnome/GnomeShellHotKeyService.h"

#include "platform/gnome/GnomeShellExtension.h"
#include "platform/xdg/KeysymName.h"

#include <QPointer>

using namespace Qt::StringLiterals;

GnomeShellHotKeyService::GnomeShellHotKeyService(GnomeShellExtension& extension, QObject* parent)
    : QObject(parent), m_extension(extension), m_wasAvailable(extension.isActive()) {
    connect(&m_extension, &GnomeShellExtension::pressed, this, [this](quint32 id) {
        if (m_registrations.contains(id) && onPressed)
            onPressed(id);
    });
    connect(&m_extension, &GnomeShellExtension::stateChanged, this, [this] {
        const bool available = isAvailable();
        if (available == std::exchange(m_wasAvailable, available))
            return;
        // The extension holds nothing of ours when it comes (again): the
        // owner registers everything anew.
        m_registrations.clear();
        if (onAvailabilityChanged)
            onAvailabilityChanged();
    });
}

GnomeShellHotKeyService::~GnomeShellHotKeyService() {
    for (auto it = m_registrations.cbegin(); it != m_registrations.cend(); ++it)
        m_extension.ungrab(it.key());
}

QString GnomeShellHotKeyService::accelerator(quint32 keysym, quint32 modifiers) {
    return KeysymName::withModifiers(keysym, modifiers,
                                     {u"<Control>", u"<Alt>", u"<Shift>", u"<Super>"});
}

int GnomeShellHotKeyService::registerHotKey(quint32 id, quint32 keyCode, quint32 modifiers) {
    if (!isAvailable())
        return unavailable;
    const QString wanted = accelerator(keyCode, modifiers);
    if (wanted.isEmpty())
        return noKeyName;
    m_registrations.insert(id, wanted);
    m_extension.grab(id, wanted, [self = QPointer(this), id, wanted](bool granted) {
        // Dropped or replaced meanwhile: that answer is not for this one.
        if (!self || self->m_registrations.value(id) != wanted || granted)
            return;
        self->m_registrations.remove(id);
        if (self->onLost)
            self->onLost(id, taken);
    });
    return 0;
}

void GnomeShellHotKeyService::unregisterHotKey(quint32 id) {
    if (m_registrations.remove(id))
        m_extension.ungrab(id);
}

bool GnomeShellHotKeyService::isAvailable() const {
    return m_extension.isActive();
}

QString GnomeShellHotKeyService::problem() const {
    return m_extension.problem();
}

QString GnomeShellHotKeyService::statusText(int status) const {
    switch (status) {
    case taken:
        return u"GNOME Shell refused it (another shortcut has these keys)"_s;
    case noKeyName:
        return u"the key has no name GNOME Shell understands"_s;
    default:
        return u"no global shortcuts: "_s + problem();
    }
}
