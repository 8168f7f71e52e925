#pragma once

#include <QFile>
#include <QString>
#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

// Ends a wait for a writer on a named pipe: while it lives, it keeps trying
// to open the pipe for writing, which succeeds only once someone is reading
// it, and then lets the reader go on to an empty read. So code that opens
// the pipe fails its test instead of hanging the test for good.
class FifoRescue {
public:
    explicit FifoRescue(const QString& path)
        : m_path(QFile::encodeName(path)), m_thread([this] { run(); }) {}
    ~FifoRescue() {
        m_stop = true;
        m_thread.join();
    }
    FifoRescue(const FifoRescue&) = delete;
    FifoRescue& operator=(const FifoRescue&) = delete;

    // Whether someone opened the pipe for reading.
    bool wasNeeded() const { return m_opened; }

private:
    void run() {
        while (!m_stop) {
            const int fd = ::open(m_path.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) {
                ::close(fd);
                m_opened = true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    const QByteArray m_path;
    std::atomic<bool> m_stop = false;
    std::atomic<bool> m_opened = false;
    std::thread m_thread;
};
