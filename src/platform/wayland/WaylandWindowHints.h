#pragma once

#include "platform/WindowHints.h"

// Our windows as native Wayland surfaces: every Wayland compositor
// composites, and there is no taskbar hint a client can give.
class WaylandWindowHints final : public WindowHints {
public:
    bool isCompositing() const override { return true; }
    void keepOutOfTaskbar(quintptr) override {}
    bool canPlaceWindows() const override { return false; }
};
