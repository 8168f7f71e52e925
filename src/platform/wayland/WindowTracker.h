#pragma once

#include "platform/FrontmostApp.h"

#include <optional>

// Where a Wayland compositor tells us which window is in front: Wayland
// itself tells no client about another's windows.
class WindowTracker {
public:
    virtual ~WindowTracker() = default;

    // The focused window as last reported; none when unknown. Never waits.
    virtual std::optional<FrontmostApp> frontmost() const = 0;
    // Asks the compositor to focus the window; false when it cannot be asked.
    virtual bool activate(const FrontmostApp& app) = 0;
};
