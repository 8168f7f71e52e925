#include "platform/wayland/WaylandWorkspace.h"

#include "platform/wayland/SwayWindowTracker.h"

WaylandWorkspace::WaylandWorkspace(Workspace& xwayland, bool canPaste, SwayWindowTracker* sway)
    : m_xwayland(xwayland), m_canPaste(canPaste), m_sway(sway) {}

std::optional<FrontmostApp> WaylandWorkspace::frontmost() {
    return m_sway ? m_sway->frontmost() : std::nullopt;
}

bool WaylandWorkspace::activate(const FrontmostApp& app) {
    return m_sway && m_sway->activate(app);
}
