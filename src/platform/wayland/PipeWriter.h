#pragma once

#include <QByteArray>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

// Writes our clipboard contents into the pipe of an application that pastes
// them, without blocking: a reader that stops reading holds us for at most a
// time-out, then its pipe is closed. Takes ownership of the fd; deletes
// itself when done.
class PipeWriter final : public QObject {
    Q_OBJECT
public:
    static void start(int fd, QByteArray bytes, QObject* parent);

private:
    PipeWriter(int fd, QByteArray bytes, QObject* parent);
    ~PipeWriter() override;
    void writeSome();

    int m_fd;
    QByteArray m_bytes;
    qsizetype m_written = 0;
    QSocketNotifier m_notifier;
    QTimer m_timer;
};
