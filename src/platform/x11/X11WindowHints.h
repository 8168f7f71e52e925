#pragma once

#include "platform/WindowHints.h"

// The hints on Qt's own X connection; without X11 there is no compositor to
// report and no state to set.
class X11WindowHints final : public WindowHints {
public:
    // Asks for the _NET_WM_CM_S<screen> selection's owner.
    bool isCompositing() const override;
    // _NET_WM_STATE SKIP_TASKBAR and SKIP_PAGER on the unmapped window; Qt
    // keeps them when it maps the window.
    void keepOutOfTaskbar(quintptr window) override;
};
