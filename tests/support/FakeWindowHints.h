#pragma once

#include "platform/WindowHints.h"

#include <QList>

// A window system whose compositor tests switch; records the windows kept
// out of the taskbar.
class FakeWindowHints final : public WindowHints {
public:
    bool isCompositing() const override { return compositing; }
    void keepOutOfTaskbar(quintptr window) override { keptOut.append(window); }
    bool canPlaceWindows() const override { return placing; }

    bool compositing = false;
    bool placing = true;
    QList<quintptr> keptOut;
};
