#pragma once

#include "platform/Scheduler.h"

#include <QTimer>

// Delays on Qt's timers. Precise ones: the paste sequence's steps are tens
// of milliseconds, where a coarse timer's slack would show.
class TimerScheduler final : public Scheduler {
public:
    void after(std::chrono::milliseconds delay, const QObject* context,
               std::function<void()> task) override {
        QTimer::singleShot(delay, Qt::PreciseTimer, context, std::move(task));
    }
};
