#include "platform/gnome/GnomeWorkspace.h"

#include "platform/gnome/GnomeShellExtension.h"

GnomeWorkspace::GnomeWorkspace(Workspace& xwayland, GnomeShellExtension& extension, bool canPaste)
    : m_xwayland(xwayland), m_extension(extension), m_canPaste(canPaste) {}

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
