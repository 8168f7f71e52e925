#pragma once

#include "platform/Clock.h"

// A clock that stands still until a test moves it.
class FakeClock final : public Clock {
public:
    explicit FakeClock(Instant start = Instant::fromReference(700000000.0)) : current(start) {}
    Instant now() const override { return current; }
    void advance(double seconds) { current = current.plus(seconds); }

    Instant current;
};
