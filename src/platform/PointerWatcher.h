#pragma once

#include <QPoint>
#include <QtGlobal>
#include <functional>

// Mouse button presses anywhere on the screen, in any application, seen
// without taking them from the window they are meant for. Reports only
// between start() and stop(); stopped, it asks nothing of the desktop.
class PointerWatcher {
public:
    struct Press {
        // Where the pointer was, in Qt's global coordinates.
        QPoint position;
        // The desktop's time stamp of the press: the one Qt's own input event
        // for the same press carries (QInputEvent::timestamp()).
        quint64 time = 0;
    };

    virtual ~PointerWatcher() = default;

    // False when the desktop cannot report presses; start() then does nothing.
    virtual bool isAvailable() const = 0;
    virtual void start() = 0;
    virtual void stop() = 0;
    virtual bool isWatching() const = 0;

    // Called on the main thread for every button press while watching. Wheel
    // turns are not presses.
    std::function<void(const Press& press)> onPress;
};
