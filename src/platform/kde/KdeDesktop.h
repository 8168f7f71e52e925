#pragma once

#include "platform/wayland/DataControlDesktop.h"

#include <memory>

class SettingsStore;

// KDE Plasma on Wayland. KWin offers data-control, so the clipboard comes
// from there; the window in front from KWin's scripting; global shortcuts
// through KDE's own kglobalaccel, as KDE's programs register them (the
// portal on Plasma 5.27 answers without binding anything); pasting through
// XWayland's XTest into X11 windows and through the desktop portal's remote
// control, once the user allows it, into the others.
class KdeDesktop final : public DataControlDesktop {
public:
    // `xwayland` may be null: Plasma without XWayland. `settings` (may be
    // null) keeps the portal's grant to paste where it can be kept.
    KdeDesktop(std::unique_ptr<WaylandPasteboard> pasteboard, std::unique_ptr<X11Parts> xwayland,
               SettingsStore* settings = nullptr);
    ~KdeDesktop() override;

    QString name() const override;

private:
    void choosePasting(SettingsStore* settings);
};
