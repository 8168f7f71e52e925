#pragma once

#include <QtGlobal>

// What our own top-level windows need from the window system beyond what Qt
// offers.
class WindowHints {
public:
    virtual ~WindowHints() = default;

    // Whether a compositor draws translucent windows translucent.
    virtual bool isCompositing() const = 0;
    // Keeps a native window out of taskbars and pagers. Window managers drop
    // the state when a window is hidden, so it is asked for before each showing.
    virtual void keepOutOfTaskbar(quintptr window) = 0;
    // Whether a window can ask for its position. Where it cannot (Wayland),
    // the compositor places it, and floats it only when its size is fixed
    // as it maps.
    virtual bool canPlaceWindows() const { return true; }
};
