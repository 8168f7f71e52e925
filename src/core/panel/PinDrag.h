#pragma once

#include <QUuid>

// A pinned row being dragged to a new place in the pin list.
struct PinDrag {
    QUuid id;                 // the dragged clip
    int origin = 0;           // its position when the drag started
    double translation = 0.0; // pointer travel since then, positive downward
    int target = 0;           // the position it takes if released now

    bool operator==(const PinDrag&) const = default;
};
