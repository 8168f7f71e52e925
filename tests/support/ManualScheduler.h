#pragma once

#include <QList>
#include <algorithm>
#include <functional>

// Delayed tasks on a clock that only moves when the test runs them, so
// timed sequences run instantly and their times can be checked exactly.
class ManualScheduler {
public:
    // The function to hand to code that takes "run this after n seconds".
    std::function<void(double, std::function<void()>)> after() {
        return [this](double seconds, std::function<void()> task) {
            m_tasks.append({now + seconds, m_sequence++, std::move(task)});
        };
    }

    // Runs due tasks in time order (and tasks they add) until none is left
    // or the clock would pass `limit` seconds.
    void runFor(double limit = 1e9) {
        const double end = now + limit;
        while (!m_tasks.isEmpty()) {
            const auto next =
                std::min_element(m_tasks.begin(), m_tasks.end(), [](auto& a, auto& b) {
                    return a.due != b.due ? a.due < b.due : a.sequence < b.sequence;
                });
            if (next->due > end)
                break;
            Task task = std::move(*next);
            m_tasks.erase(next);
            now = std::max(now, task.due);
            task.run();
        }
    }
    qsizetype pending() const { return m_tasks.size(); }

    double now = 0.0;

private:
    struct Task {
        double due;
        int sequence;
        std::function<void()> run;
    };
    QList<Task> m_tasks;
    int m_sequence = 0;
};
