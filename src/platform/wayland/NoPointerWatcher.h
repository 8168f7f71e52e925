#pragma once

#include "platform/PointerWatcher.h"

// Where other applications' clicks cannot be seen: the panel then closes on
// losing the focus alone.
class NoPointerWatcher final : public PointerWatcher {
public:
    bool isAvailable() const override { return false; }
    void start() override {}
    void stop() override {}
    bool isWatching() const override { return false; }
};
