#include "platform/wayland/PipeWriter.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <unistd.h>

namespace {
constexpr std::chrono::milliseconds kTimeout{5000};
}

void PipeWriter::start(int fd, QByteArray bytes, QObject* parent) {
    new PipeWriter(fd, std::move(bytes), parent);
}

PipeWriter::PipeWriter(int fd, QByteArray bytes, QObject* parent)
    : QObject(parent), m_fd(fd), m_bytes(std::move(bytes)), m_notifier(fd, QSocketNotifier::Write) {
    ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
    connect(&m_notifier, &QSocketNotifier::activated, this, &PipeWriter::writeSome);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &QObject::deleteLater);
    m_timer.start(kTimeout);
}

PipeWriter::~PipeWriter() {
    m_notifier.setEnabled(false);
    ::close(m_fd);
}

void PipeWriter::writeSome() {
    while (m_written < m_bytes.size()) {
        const ssize_t n = ::write(m_fd, m_bytes.constData() + m_written,
                                  static_cast<size_t>(m_bytes.size() - m_written));
        if (n > 0) {
            m_written += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        break; // the reader went away (EPIPE) or the pipe failed
    }
    m_notifier.setEnabled(false);
    deleteLater();
}
