#pragma once

#include "platform/Clock.h"

#include <chrono>

class SystemClock final : public Clock {
public:
    Instant now() const override {
        const auto since1970 =
            std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch());
        return Instant::fromUnix(since1970.count());
    }
};
