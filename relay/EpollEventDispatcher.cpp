#include "EpollEventDispatcher.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimerEvent>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {
constexpr int kMaxEvents = 512;
} // namespace

EpollEventDispatcher::EpollEventDispatcher(QObject* parent)
    : QAbstractEventDispatcher(parent), m_epoll(epoll_create1(EPOLL_CLOEXEC)),
      m_wake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (m_epoll < 0 || m_wake < 0)
        qFatal("tindrel-relay: cannot create epoll or eventfd (errno %d)", errno);
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = m_wake;
    epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_wake, &event);
}

EpollEventDispatcher::~EpollEventDispatcher() {
    close(m_wake);
    close(m_epoll);
}

qint64 EpollEventDispatcher::nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void EpollEventDispatcher::registerSocketNotifier(QSocketNotifier* notifier) {
    const int fd = static_cast<int>(notifier->socket());
    Watch& watch = m_watches[fd];
    switch (notifier->type()) {
    case QSocketNotifier::Read:
        watch.read = notifier;
        break;
    case QSocketNotifier::Write:
        watch.write = notifier;
        break;
    case QSocketNotifier::Exception:
        watch.exception = notifier;
        break;
    }
    updateWatch(fd);
}

void EpollEventDispatcher::unregisterSocketNotifier(QSocketNotifier* notifier) {
    const int fd = static_cast<int>(notifier->socket());
    const auto it = m_watches.find(fd);
    if (it == m_watches.end())
        return;
    if (it->read == notifier)
        it->read = nullptr;
    if (it->write == notifier)
        it->write = nullptr;
    if (it->exception == notifier)
        it->exception = nullptr;
    updateWatch(fd);
}

void EpollEventDispatcher::updateWatch(int fd) {
    const auto it = m_watches.find(fd);
    const Watch watch = it == m_watches.end() ? Watch{} : *it;
    epoll_event event{};
    event.data.fd = fd;
    event.events = (watch.read ? EPOLLIN : 0u) | (watch.write ? EPOLLOUT : 0u) |
                   (watch.exception ? EPOLLPRI : 0u);
    if (event.events == 0) {
        m_watches.remove(fd);
        // The descriptor may already be closed; then the kernel dropped it.
        epoll_ctl(m_epoll, EPOLL_CTL_DEL, fd, &event);
        return;
    }
    if (epoll_ctl(m_epoll, EPOLL_CTL_MOD, fd, &event) != 0 && errno == ENOENT)
        epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &event);
}

void EpollEventDispatcher::activate(int fd, unsigned events) {
    // Errors and hang-ups wake readers and writers, as poll() would; they
    // find out from the socket. Each lookup is fresh: an earlier handler may
    // have removed or replaced a notifier.
    const bool broken = events & (EPOLLERR | EPOLLHUP);
    const auto send = [this, fd](QSocketNotifier* Watch::*slot) {
        const auto it = m_watches.constFind(fd);
        if (it == m_watches.constEnd() || !((*it).*slot))
            return;
        QEvent event(QEvent::SockAct);
        QCoreApplication::sendEvent((*it).*slot, &event);
    };
    if (events & (EPOLLIN | EPOLLRDHUP) || broken)
        send(&Watch::read);
    if (events & EPOLLOUT || broken)
        send(&Watch::write);
    if (events & EPOLLPRI)
        send(&Watch::exception);
}

void EpollEventDispatcher::registerTimer(int timerId, qint64 interval, Qt::TimerType timerType,
                                         QObject* object) {
    const qint64 deadline = nowMs() + interval;
    m_timers.insert(timerId, Timer{interval, timerType, object, deadline, false});
    m_deadlines.insert({deadline, timerId});
}

bool EpollEventDispatcher::unregisterTimer(int timerId) {
    const auto it = m_timers.find(timerId);
    if (it == m_timers.end())
        return false;
    m_deadlines.erase({it->deadline, timerId});
    m_timers.erase(it);
    return true;
}

bool EpollEventDispatcher::unregisterTimers(QObject* object) {
    bool any = false;
    for (auto it = m_timers.begin(); it != m_timers.end();) {
        if (it->object == object) {
            m_deadlines.erase({it->deadline, it.key()});
            it = m_timers.erase(it);
            any = true;
        } else {
            ++it;
        }
    }
    return any;
}

QList<QAbstractEventDispatcher::TimerInfo>
EpollEventDispatcher::registeredTimers(QObject* object) const {
    QList<TimerInfo> out;
    for (auto it = m_timers.cbegin(); it != m_timers.cend(); ++it)
        if (it->object == object)
            out.append(TimerInfo(it.key(), static_cast<int>(it->interval), it->type));
    return out;
}

int EpollEventDispatcher::remainingTime(int timerId) {
    const auto it = m_timers.constFind(timerId);
    if (it == m_timers.constEnd())
        return -1;
    return static_cast<int>(std::max<qint64>(0, it->deadline - nowMs()));
}

void EpollEventDispatcher::wakeUp() {
    const quint64 one = 1;
    // Full counter means a wake-up is already pending; nothing is lost.
    [[maybe_unused]] const auto written = write(m_wake, &one, sizeof one);
}

void EpollEventDispatcher::interrupt() {
    m_interrupted = true;
    wakeUp();
}

int EpollEventDispatcher::waitTimeout() const {
    if (m_deadlines.empty())
        return -1;
    const qint64 left = m_deadlines.begin()->first - nowMs();
    return static_cast<int>(std::clamp<qint64>(left, 0, 24 * 3600 * 1000));
}

bool EpollEventDispatcher::fireTimers() {
    const qint64 now = nowMs();
    QList<int> due;
    for (auto it = m_deadlines.begin(); it != m_deadlines.end() && it->first <= now; ++it)
        due.append(it->second);
    bool fired = false;
    for (int id : due) {
        auto it = m_timers.find(id);
        if (it == m_timers.end() || it->firing)
            continue;
        // Next deadline first: the handler may kill or restart the timer.
        m_deadlines.erase({it->deadline, id});
        it->deadline += it->interval;
        if (it->deadline <= now) // fell behind: skip the missed beats
            it->deadline = now + it->interval;
        m_deadlines.insert({it->deadline, id});
        it->firing = true;
        QObject* object = it->object;
        QTimerEvent event(id);
        QCoreApplication::sendEvent(object, &event);
        fired = true;
        if (auto again = m_timers.find(id); again != m_timers.end())
            again->firing = false;
    }
    return fired;
}

bool EpollEventDispatcher::processEvents(QEventLoop::ProcessEventsFlags flags) {
    m_interrupted = false;
    Q_EMIT awake();
    QCoreApplication::sendPostedEvents();

    const bool mayWait = flags.testFlag(QEventLoop::WaitForMoreEvents) && !m_interrupted;
    const int timeout = mayWait ? waitTimeout() : 0;
    if (mayWait)
        Q_EMIT aboutToBlock();
    epoll_event events[kMaxEvents];
    int ready = epoll_wait(m_epoll, events, kMaxEvents, timeout);
    if (ready < 0)
        ready = 0; // EINTR: go round again

    bool handled = false;
    for (int i = 0; i < ready; ++i) {
        const int fd = events[i].data.fd;
        if (fd == m_wake) {
            quint64 count = 0;
            [[maybe_unused]] const auto got = read(m_wake, &count, sizeof count);
            continue;
        }
        if (flags.testFlag(QEventLoop::ExcludeSocketNotifiers))
            continue;
        activate(fd, events[i].events);
        handled = true;
    }
    if (!m_interrupted && fireTimers())
        handled = true;
    return handled;
}
