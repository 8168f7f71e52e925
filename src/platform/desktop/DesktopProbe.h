#pragma once

#include "platform/Desktop.h"

#include <memory>

class SettingsStore;

// The one place that decides which desktop we run on: a Wayland compositor
// with data-control (KDE Plasma, or any other such as sway), else the X
// server (an X11 session, or XWayland where the compositor offers no
// data-control). Says what it chose, and what that desktop cannot do and
// why, in one log line.
class DesktopProbe {
public:
    // None when there is neither a Wayland compositor with data-control nor
    // an X server to talk to.
    // `settings` (may be null) keeps what a desktop's parts must remember
    // between runs, such as the portal's grant to paste.
    static std::unique_ptr<Desktop> open(SettingsStore* settings = nullptr);
};
