#include "platform/avahi/AvahiQtPoll.h"

#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <avahi-common/timeval.h>
#include <limits>
#include <memory>
#include <poll.h>

// The opaque types of Avahi's poll interface are ours to define.
struct AvahiWatch {
    int fd = -1;
    AvahiWatchEvent wanted{};
    AvahiWatchEvent happened{};
    AvahiWatchCallback callback = nullptr;
    void* userdata = nullptr;
    std::unique_ptr<QSocketNotifier> reader;
    std::unique_ptr<QSocketNotifier> writer;
    // Avahi may free a watch from inside its own callback; it is then
    // deleted once the callback has returned.
    bool inCallback = false;
    bool freed = false;
};

struct AvahiTimeout {
    QTimer timer;
    AvahiTimeoutCallback callback = nullptr;
    void* userdata = nullptr;
    bool inCallback = false;
    bool freed = false;
};

namespace {

void updateWatch(AvahiWatch* w, AvahiWatchEvent events) {
    w->wanted = events;
    // Qt reports hang-ups and errors through the read notifier.
    w->reader->setEnabled(events & AVAHI_WATCH_IN);
    w->writer->setEnabled(events & AVAHI_WATCH_OUT);
}

void fireWatch(AvahiWatch* w) {
    // A notifier says only "readable" or "writable"; Avahi's D-Bus glue wants
    // to know about hang-ups and errors too, so ask the descriptor itself.
    // A zero timeout: this never waits.
    pollfd p{w->fd, static_cast<short>(w->wanted), 0};
    if (::poll(&p, 1, 0) <= 0)
        return;
    if (p.revents & POLLNVAL) {
        // Closed under us: stop asking rather than spin.
        w->reader->setEnabled(false);
        w->writer->setEnabled(false);
        return;
    }
    const int happened =
        p.revents & (AVAHI_WATCH_IN | AVAHI_WATCH_OUT | AVAHI_WATCH_ERR | AVAHI_WATCH_HUP);
    if (happened == 0)
        return;
    w->happened = static_cast<AvahiWatchEvent>(happened);
    w->inCallback = true;
    w->callback(w, w->fd, w->happened, w->userdata);
    w->inCallback = false;
    w->happened = AvahiWatchEvent{};
    if (w->freed)
        delete w;
}

AvahiWatch* watchNew(const AvahiPoll*, int fd, AvahiWatchEvent events, AvahiWatchCallback callback,
                     void* userdata) {
    auto* w = new AvahiWatch;
    w->fd = fd;
    w->callback = callback;
    w->userdata = userdata;
    w->reader = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    w->writer = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
    QObject::connect(w->reader.get(), &QSocketNotifier::activated, w->reader.get(),
                     [w] { fireWatch(w); });
    QObject::connect(w->writer.get(), &QSocketNotifier::activated, w->writer.get(),
                     [w] { fireWatch(w); });
    updateWatch(w, events);
    return w;
}

AvahiWatchEvent watchGetEvents(AvahiWatch* w) {
    return w->happened;
}

void watchFree(AvahiWatch* w) {
    if (w->inCallback) {
        w->reader->setEnabled(false);
        w->writer->setEnabled(false);
        w->freed = true;
        return;
    }
    delete w;
}

void armTimeout(AvahiTimeout* t, const timeval* tv) {
    if (!tv) {
        t->timer.stop();
        return;
    }
    // Avahi gives an absolute wall-clock time; a time already past fires on
    // the next turn of the loop.
    const AvahiUsec left = -avahi_age(tv);
    const qint64 ms = left <= 0 ? 0 : (left + 999) / 1000;
    t->timer.start(static_cast<int>(std::min<qint64>(ms, std::numeric_limits<int>::max())));
}

void fireTimeout(AvahiTimeout* t) {
    t->inCallback = true;
    t->callback(t, t->userdata);
    t->inCallback = false;
    if (t->freed)
        delete t;
}

AvahiTimeout* timeoutNew(const AvahiPoll*, const timeval* tv, AvahiTimeoutCallback callback,
                         void* userdata) {
    auto* t = new AvahiTimeout;
    t->callback = callback;
    t->userdata = userdata;
    t->timer.setSingleShot(true);
    t->timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&t->timer, &QTimer::timeout, &t->timer, [t] { fireTimeout(t); });
    armTimeout(t, tv);
    return t;
}

void timeoutFree(AvahiTimeout* t) {
    if (t->inCallback) {
        t->timer.stop();
        t->freed = true;
        return;
    }
    delete t;
}

} // namespace

AvahiQtPoll::AvahiQtPoll() {
    m_api.userdata = this;
    m_api.watch_new = &watchNew;
    m_api.watch_update = &updateWatch;
    m_api.watch_get_events = &watchGetEvents;
    m_api.watch_free = &watchFree;
    m_api.timeout_new = &timeoutNew;
    m_api.timeout_update = &armTimeout;
    m_api.timeout_free = &timeoutFree;
}

AvahiQtPoll::~AvahiQtPoll() = default;
