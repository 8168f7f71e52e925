#include "platform/wayland/PipeReader.h"

#include <QPointer>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

void PipeReader::start(int fd, qsizetype limit, std::chrono::milliseconds timeout, QObject* context,
                       Done done) {
    new PipeReader(fd, limit, timeout, context, std::move(done));
}

PipeReader::PipeReader(int fd, qsizetype limit, std::chrono::milliseconds timeout, QObject* context,
                       Done done)
    : QObject(context), m_fd(fd), m_limit(limit), m_notifier(fd, QSocketNotifier::Read),
      m_done(std::move(done)) {
    ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
    connect(&m_notifier, &QSocketNotifier::activated, this, &PipeReader::readSome);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] { finish(std::nullopt); });
    m_timer.start(timeout);
}

PipeReader::~PipeReader() {
    m_notifier.setEnabled(false);
    ::close(m_fd);
}

void PipeReader::readSome() {
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n > 0) {
            // One byte over the limit is enough to know the text is too large;
            // the rest is never taken in.
            if (m_bytes.size() + n > m_limit) {
                finish(std::nullopt);
                return;
            }
            m_bytes.append(buffer, n);
            continue;
        }
        if (n == 0) {
            finish(std::move(m_bytes));
            return;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            finish(std::nullopt);
        return;
    }
}

void PipeReader::finish(std::optional<QByteArray> bytes) {
    if (m_finished)
        return;
    m_finished = true;
    m_notifier.setEnabled(false);
    m_timer.stop();
    // The callback may delete our context, and so us: take what we need first.
    Done done = std::move(m_done);
    deleteLater();
    done(std::move(bytes));
}
