#include "platform/wayland/WaylandWorkspace.h"

#include "platform/wayland/WindowTracker.h"

WaylandWorkspace::WaylandWorkspace(Workspace& xwayland, bool canPaste, WindowTracker* windows)
    : m_xwayland(xwayland), m_canPaste(canPaste), m_windows(windows) {}

std::optional<FrontmostApp> WaylandWorkspace::frontmost() {
    return m_windows ? m_windows->frontmost() : std::nullopt;
}

bool WaylandWorkspace::activate(const FrontmostApp& app) {
    return m_windows && m_windows->activate(app);
}
