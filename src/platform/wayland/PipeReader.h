#pragma once

#include <QByteArray>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <chrono>
#include <functional>
#include <optional>

// Reads a pipe to its end without blocking: another application writes the
// other side, and may write slowly, too much, or never close it. Gives the
// bytes, or none when the writer passes `limit` bytes or `timeout` runs out.
// Takes ownership of the fd; deletes itself once it has answered.
class PipeReader final : public QObject {
    Q_OBJECT
public:
    using Done = std::function<void(std::optional<QByteArray>)>;

    static void start(int fd, qsizetype limit, std::chrono::milliseconds timeout, QObject* context,
                      Done done);

private:
    PipeReader(int fd, qsizetype limit, std::chrono::milliseconds timeout, QObject* context,
               Done done);
    ~PipeReader() override;
    void readSome();
    void finish(std::optional<QByteArray> bytes);

    int m_fd;
    qsizetype m_limit;
    QByteArray m_bytes;
    QSocketNotifier m_notifier;
    QTimer m_timer;
    Done m_done;
    bool m_finished = false;
};
