#pragma once

#include "core/util/Instant.h"

// "Now", behind an interface so tests decide what time it is.
class Clock {
public:
    virtual ~Clock() = default;
    virtual Instant now() const = 0;
};
