#pragma once

#include "platform/wayland/DataControlDesktop.h"

#include <QString>
#include <memory>

// A Wayland session whose compositor offers data-control, other than KDE
// Plasma: wlroots compositors such as sway, and any other as a fallback.
// Pasting through the virtual keyboard where there is one, the window in
// front from sway's IPC where it runs, shortcuts through the desktop portal.
class WaylandDesktop final : public DataControlDesktop {
public:
    // `xwayland` may be null: no X server in this session.
    WaylandDesktop(std::unique_ptr<WaylandPasteboard> pasteboard,
                   std::unique_ptr<X11Parts> xwayland);
    ~WaylandDesktop() override;

    QString name() const override;

private:
    QString m_name;
};
