#pragma once

#include <chrono>
#include <functional>

class QObject;

// "Run this later" on the main thread, behind an interface so tests can
// step through timed sequences without waiting.
class Scheduler {
public:
    virtual ~Scheduler() = default;
    // Runs `task` once `delay` has passed, never sooner; not at all when
    // `context` is destroyed first, so a task may use it freely.
    virtual void after(std::chrono::milliseconds delay, const QObject* context,
                       std::function<void()> task) = 0;
};
