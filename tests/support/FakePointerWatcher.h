#pragma once

#include "platform/PointerWatcher.h"

// Presses in memory. press() plays the desktop reporting a mouse press; it
// reaches onPress only while started.
class FakePointerWatcher final : public PointerWatcher {
public:
    bool isAvailable() const override { return true; }
    void start() override { watching = true; }
    void stop() override { watching = false; }
    bool isWatching() const override { return watching; }

    bool press(QPoint position, quint64 time = 0) {
        if (!watching || !onPress)
            return false;
        onPress({position, time});
        return true;
    }

    bool watching = false;
};
