#pragma once

#include <QAbstractEventDispatcher>
#include <QHash>
#include <atomic>
#include <set>
#include <utility>

class QSocketNotifier;

// The relay's event loop on epoll. Qt's own dispatchers poll() every socket
// on every turn, so a relay with thousands of idle members spent most of its
// time asking idle sockets whether they had anything; epoll hands back only
// the sockets that are ready. Linux only, main thread only.
class EpollEventDispatcher final : public QAbstractEventDispatcher {
    Q_OBJECT
public:
    explicit EpollEventDispatcher(QObject* parent = nullptr);
    ~EpollEventDispatcher() override;

    bool processEvents(QEventLoop::ProcessEventsFlags flags) override;

    void registerSocketNotifier(QSocketNotifier* notifier) override;
    void unregisterSocketNotifier(QSocketNotifier* notifier) override;

    void registerTimer(int timerId, qint64 interval, Qt::TimerType timerType,
                       QObject* object) override;
    bool unregisterTimer(int timerId) override;
    bool unregisterTimers(QObject* object) override;
    QList<TimerInfo> registeredTimers(QObject* object) const override;
    int remainingTime(int timerId) override;

    void wakeUp() override;
    void interrupt() override;

private:
    struct Watch {
        QSocketNotifier* read = nullptr;
        QSocketNotifier* write = nullptr;
        QSocketNotifier* exception = nullptr;
    };
    struct Timer {
        qint64 interval = 0;
        Qt::TimerType type = Qt::CoarseTimer;
        QObject* object = nullptr;
        qint64 deadline = 0;
        bool firing = false;
    };

    void updateWatch(int fd);
    void activate(int fd, unsigned events);
    bool fireTimers();
    int waitTimeout() const;
    static qint64 nowMs();

    int m_epoll = -1;
    int m_wake = -1;
    std::atomic<bool> m_interrupted{false};
    QHash<int, Watch> m_watches;
    QHash<int, Timer> m_timers;
    std::set<std::pair<qint64, int>> m_deadlines; // (deadline, timer id)
};
