#pragma once

// Whether a compositing manager runs on the screen of Qt's own X connection
// (it owns the _NET_WM_CM_S<screen> selection), so that translucent windows
// are drawn translucent. False without an X11 connection.
namespace X11Compositing {
bool isActive();
} // namespace X11Compositing
