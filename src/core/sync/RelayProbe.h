#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <chrono>

class QTcpSocket;

// Watches for a relay that went away to come back, more cheaply and sooner
// than the links' own back-off: every few seconds a bare TCP connect to the
// relay's host and port, closed as soon as it opens. Nothing is sent, so the
// relay sees no WebSocket and no room. One attempt is out at a time.
class RelayProbe : public QObject {
    Q_OBJECT
public:
    struct Timing {
        // Between the end of one attempt and the next, give or take 20 %.
        std::chrono::milliseconds interval{3000};
        // An attempt that has not connected by then counts as failed.
        std::chrono::milliseconds connectTimeout{3000};
    };

    // `url` is a relay link URL: ws:// (port 80 unless given) or wss:// (443).
    explicit RelayProbe(const QUrl& url, QObject* parent = nullptr);
    ~RelayProbe() override;

    // Before start(); tests shorten the interval.
    void setTiming(const Timing& timing) { m_timing = timing; }

    const QString& host() const { return m_host; }
    quint16 port() const { return m_port; }
    bool isRunning() const { return m_running; }

    // Starts probing, the first attempt one interval from now; does nothing
    // while running.
    void start();
    // Stops probing; an attempt under way is dropped, and nothing is
    // reported after this.
    void stop();

Q_SIGNALS:
    // Queued, once per start(): a TCP connection to the relay opened. The
    // probe has stopped by then.
    void reachable();

private:
    void attempt();
    void onConnected();
    void onFailed();
    void dropSocket();
    void scheduleNext();

    QString m_host;
    quint16 m_port = 0;
    Timing m_timing;
    bool m_running = false;
    // Bumped by every start() and stop(): a queued report of an earlier run
    // is not delivered.
    quint64 m_run = 0;
    QTcpSocket* m_socket = nullptr;
    QTimer m_nextTimer;
    QTimer m_timeoutTimer;
};
