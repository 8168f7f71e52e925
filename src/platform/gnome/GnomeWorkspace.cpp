#include "platform/gnome/GnomeWorkspace.h"

#include "platform/KeySynth.h"
#include "platform/gnome/GnomeShellExtension.h"

GnomeWorkspace::GnomeWorkspace(Workspace& xwayland, GnomeShellExtension& extension,
                               const KeySynth& portal)
    : m_xwayland(xwayland), m_extension(extension), m_portal(portal) {}

std::optional<FrontmostApp> GnomeWorkspace::frontmost() {
    if (m_extension.isActive())
        return m_extension.frontmost();
    return m_xwayland.frontmost();
}

bool GnomeWorkspace::activate(const FrontmostApp& app) {
    // The extension's window ids are the Shell's, not X11's: each side
    // brings back only what it named.
    if (m_extension.isActive())
        return m_extension.activate(app);
    return m_xwayland.activate(app);
}

bool GnomeWorkspace::seesFrontmost() const {
    return m_extension.isActive();
}

bool GnomeWorkspace::isTrusted() const {
    // XWayland names its active window only while an X11 one has the focus.
    if (m_xwayland.frontmost())
        return true;
    const PastePermission permission = m_portal.permission();
    return permission != PastePermission::refused && permission != PastePermission::unavailable;
}

QString GnomeWorkspace::howToSeeFrontmost() const {
    return m_extension.isActive() ? QString() : m_extension.problem();
}
