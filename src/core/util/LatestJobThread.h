#pragma once

#include <QtGlobal>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// Runs jobs on a thread of its own, one at a time, in the order they were
// posted; a job still waiting when a newer one is posted is dropped, for
// jobs that each write a whole snapshot the newer one supersedes. Standard
// threads and locks rather than Qt's thread pool, whose hand-over the thread
// sanitizer cannot see (Qt is not built with it).
class LatestJobThread {
public:
    LatestJobThread();
    // Runs the job still waiting, then stops.
    ~LatestJobThread();
    LatestJobThread(const LatestJobThread&) = delete;
    LatestJobThread& operator=(const LatestJobThread&) = delete;

    // Queues the job in place of any still waiting.
    void post(std::function<void()> job);
    // Blocks until every job posted so far has run or been dropped.
    void waitForAll();

private:
    void run();

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::function<void()> m_next;
    quint64 m_queued = 0;
    quint64 m_finished = 0;
    bool m_stopping = false;
    std::thread m_thread; // last: starts only once everything above exists
};
