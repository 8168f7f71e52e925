#include "platform/gnome/GnomeDesktop.h"

#include "platform/gnome/GnomeShellExtension.h"
#include "platform/gnome/GnomeShellHotKeyService.h"
#include "platform/gnome/GnomeWorkspace.h"
#include "platform/wayland/SplitKeySynth.h"
#include "platform/x11/X11Parts.h"
#include "platform/x11/X11WindowHints.h"
#include "platform/xdg/PortalRemoteDesktop.h"

#include <QDBusConnection>

using namespace Qt::StringLiterals;

std::unique_ptr<GnomeDesktop> GnomeDesktop::open(SettingsStore* settings) {
    auto parts = X11Parts::open();
    if (!parts || !parts->pasteboard())
        return nullptr;
    return std::unique_ptr<GnomeDesktop>(new GnomeDesktop(std::move(parts), settings));
}

GnomeDesktop::GnomeDesktop(std::unique_ptr<X11Parts> parts, SettingsStore* settings)
    : m_parts(std::move(parts)), m_extension(std::make_unique<GnomeShellExtension>()) {
    m_portal = std::make_unique<PortalRemoteDesktop>(QDBusConnection::sessionBus(), settings);
    m_keys = std::make_unique<SplitKeySynth>(m_parts->keySynth(), m_parts->workspace(), *m_portal);
    m_workspace = std::make_unique<GnomeWorkspace>(m_parts->workspace(), *m_extension, *m_portal);
    m_hotKeys = std::make_unique<GnomeShellHotKeyService>(*m_extension);
    // The clipboard is XWayland's only where Qt runs there (open() makes
    // sure), so our windows are X11 ones.
    m_windowHints = std::make_unique<X11WindowHints>();
}

GnomeDesktop::~GnomeDesktop() = default;

QString GnomeDesktop::name() const {
    return u"GNOME"_s;
}

// What it cannot do, the probe adds from capabilities().
QString GnomeDesktop::description() const {
    return u"clipboard through XWayland (mutter offers no data-control); pasting through XTest "
           "into X11 windows, through the desktop portal into the others; shortcuts and the "
           "window in front through Tindrel's GNOME Shell extension"_s;
}

Pasteboard& GnomeDesktop::pasteboard() {
    return *m_parts->pasteboard();
}
Workspace& GnomeDesktop::workspace() {
    return *m_workspace;
}
KeySynth& GnomeDesktop::keySynth() {
    return *m_keys;
}
HotKeyService& GnomeDesktop::hotKeys() {
    return *m_hotKeys;
}
PointerWatcher& GnomeDesktop::pointer() {
    return m_parts->pointer();
}
WindowHints& GnomeDesktop::windowHints() {
    return *m_windowHints;
}
quint32 GnomeDesktop::baseKeysym(quint32 keycode) const {
    return m_parts->baseKeysym(keycode);
}

Desktop::Capabilities GnomeDesktop::capabilities() {
    return capabilitiesOfParts(QString(), m_extension->problem());
}

bool GnomeDesktop::showsOurIcon() const {
    return m_extension->isActive();
}

void GnomeDesktop::useBusConnection(const QDBusConnection& bus, const QString& ourName) {
    m_extension->useConnection(bus, ourName);
}
