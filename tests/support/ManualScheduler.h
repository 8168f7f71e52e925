#pragma once

#include "platform/Scheduler.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <algorithm>
#include <chrono>
#include <functional>

// Delayed tasks on a clock that only moves when the test runs them, so
// timed sequences run instantly and their times can be checked exactly.
class ManualScheduler final : public Scheduler {
public:
    using Duration = std::chrono::milliseconds;

    void after(Duration delay, const QObject* context, std::function<void()> task) override {
        delays.append(delay);
        m_tasks.append({now + delay, m_sequence++, context, QPointer<const QObject>(context),
                        std::move(task)});
    }

    // Runs the earliest task (moving the clock to its time); false when
    // none waits. A task whose context is gone is dropped unrun.
    bool runNext() {
        if (m_tasks.isEmpty())
            return false;
        const auto next = std::min_element(m_tasks.begin(), m_tasks.end(), earlier);
        Task task = std::move(*next);
        m_tasks.erase(next);
        now = std::max(now, task.due);
        if (!task.context || task.guard)
            task.run();
        return true;
    }
    // Runs due tasks in time order (and tasks they add) until none is left
    // or the clock would pass `limit` from now.
    void runFor(Duration limit = Duration::max() / 2) {
        const Duration end = now + limit;
        while (!m_tasks.isEmpty() &&
               std::min_element(m_tasks.begin(), m_tasks.end(), earlier)->due <= end)
            runNext();
    }
    qsizetype pending() const { return m_tasks.size(); }

    Duration now{0};
    // Every delay asked for, in order.
    QList<Duration> delays;

private:
    struct Task {
        Duration due;
        int sequence;
        const QObject* context;
        QPointer<const QObject> guard;
        std::function<void()> run;
    };
    static bool earlier(const Task& a, const Task& b) {
        return a.due != b.due ? a.due < b.due : a.sequence < b.sequence;
    }
    QList<Task> m_tasks;
    int m_sequence = 0;
};
