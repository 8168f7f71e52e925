#include "core/util/LatestJobThread.h"

LatestJobThread::LatestJobThread() : m_thread([this] { run(); }) {}

LatestJobThread::~LatestJobThread() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void LatestJobThread::post(std::function<void()> job) {
    {
        std::lock_guard lock(m_mutex);
        m_next = std::move(job);
        ++m_queued;
    }
    m_changed.notify_all();
}

void LatestJobThread::waitForAll() {
    std::unique_lock lock(m_mutex);
    const quint64 target = m_queued;
    m_changed.wait(lock, [&] { return m_finished >= target; });
}

void LatestJobThread::run() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_stopping || m_next; });
        if (!m_next)
            return; // stopping, and nothing left to run
        const std::function<void()> job = std::move(m_next);
        m_next = nullptr;
        const quint64 ticket = m_queued;
        lock.unlock();
        job();
        lock.lock();
        m_finished = ticket;
        m_changed.notify_all();
    }
}
