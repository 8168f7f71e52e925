#include "platform/avahi/AvahiQtPoll.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <avahi-common/timeval.h>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

// Runs the event loop until done() holds or the time is up.
bool spinUntil(const std::function<bool()>& done,
               std::chrono::milliseconds timeout = std::chrono::seconds(2)) {
    QDeadlineTimer deadline(timeout);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    }
    return true;
}

void spinFor(int ms) {
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
}

struct Pipe {
    int fds[2] = {-1, -1};
    Pipe() { EXPECT_EQ(::pipe2(fds, O_NONBLOCK | O_CLOEXEC), 0); }
    ~Pipe() {
        closeWriter();
        if (fds[0] >= 0)
            ::close(fds[0]);
    }
    int reader() const { return fds[0]; }
    int writer() const { return fds[1]; }
    void put(char c = 'x') { ASSERT_EQ(::write(fds[1], &c, 1), 1); }
    void closeWriter() {
        if (fds[1] >= 0)
            ::close(fds[1]);
        fds[1] = -1;
    }
};

// What one watch or timeout saw, and what it does in its callback.
struct Probe {
    explicit Probe(const AvahiPoll* poll) : api(poll) {}
    const AvahiPoll* api;
    int calls = 0;
    AvahiWatchEvent event{};
    AvahiWatchEvent reported{};
    std::function<void()> onCall;
};

void watchCallback(AvahiWatch* w, int fd, AvahiWatchEvent event, void* userdata) {
    auto* probe = static_cast<Probe*>(userdata);
    ++probe->calls;
    probe->event = event;
    probe->reported = probe->api->watch_get_events(w);
    char buffer[16];
    while (::read(fd, buffer, sizeof buffer) > 0) {
    }
    if (probe->onCall)
        probe->onCall();
}

void timeoutCallback(AvahiTimeout*, void* userdata) {
    auto* probe = static_cast<Probe*>(userdata);
    ++probe->calls;
    if (probe->onCall)
        probe->onCall();
}

timeval in(int ms) {
    timeval tv{};
    avahi_elapse_time(&tv, static_cast<unsigned>(std::max(ms, 0)), 0);
    return tv;
}

} // namespace

TEST(AvahiQtPoll, WatchReportsWhatHappenedAndFollowsUpdates) {
    AvahiQtPoll poll;
    const AvahiPoll* api = poll.api();
    Pipe pipe;
    Probe probe{api};
    AvahiWatch* w = api->watch_new(api, pipe.reader(), AVAHI_WATCH_IN, &watchCallback, &probe);

    pipe.put();
    ASSERT_TRUE(spinUntil([&] { return probe.calls == 1; }));
    EXPECT_EQ(probe.event, AVAHI_WATCH_IN);
    EXPECT_EQ(probe.reported, AVAHI_WATCH_IN);
    EXPECT_EQ(api->watch_get_events(w), AvahiWatchEvent{}) << "only meaningful in the callback";

    // Not asked for: not reported.
    api->watch_update(w, AvahiWatchEvent{});
    pipe.put();
    spinFor(60);
    EXPECT_EQ(probe.calls, 1);
    api->watch_update(w, AVAHI_WATCH_IN);
    ASSERT_TRUE(spinUntil([&] { return probe.calls == 2; }));

    // A hang-up is named as such, as Avahi's D-Bus glue needs it (and it
    // lasts until the watch goes).
    pipe.closeWriter();
    ASSERT_TRUE(spinUntil([&] { return probe.calls >= 3; }));
    EXPECT_TRUE(probe.event & AVAHI_WATCH_HUP) << probe.event;
    api->watch_free(w);
}

TEST(AvahiQtPoll, WatchForWritingFires) {
    AvahiQtPoll poll;
    const AvahiPoll* api = poll.api();
    Pipe pipe;
    Probe probe{api};
    AvahiWatch* w = api->watch_new(api, pipe.writer(), AVAHI_WATCH_OUT, &watchCallback, &probe);
    probe.onCall = [&] { api->watch_update(w, AvahiWatchEvent{}); };
    ASSERT_TRUE(spinUntil([&] { return probe.calls == 1; }));
    EXPECT_EQ(probe.event, AVAHI_WATCH_OUT);
    spinFor(60);
    EXPECT_EQ(probe.calls, 1);
    api->watch_free(w);
}

TEST(AvahiQtPoll, WatchMayFreeItselfAndOthersInItsCallback) {
    AvahiQtPoll poll;
    const AvahiPoll* api = poll.api();
    Pipe one, two;
    Probe first{api}, second{api};
    AvahiWatch* w1 = api->watch_new(api, one.reader(), AVAHI_WATCH_IN, &watchCallback, &first);
    AvahiWatch* w2 = api->watch_new(api, two.reader(), AVAHI_WATCH_IN, &watchCallback, &second);
    // Both ready in the same turn; the first to run frees both.
    first.onCall = [&] {
        api->watch_free(w1);
        api->watch_free(w2);
    };
    second.onCall = first.onCall;
    one.put();
    two.put();
    ASSERT_TRUE(spinUntil([&] { return first.calls + second.calls == 1; }));
    one.put();
    two.put();
    spinFor(60);
    EXPECT_EQ(first.calls + second.calls, 1);
}

TEST(AvahiQtPoll, TimeoutsFireOnceAtTheirTime) {
    AvahiQtPoll poll;
    const AvahiPoll* api = poll.api();
    struct Case {
        const char* what;
        std::optional<int> inMs;
        bool fires;
    };
    const Case cases[] = {
        {"in 40 ms", 40, true},
        {"already past", -500, true},
        {"disabled", std::nullopt, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Probe probe{api};
        const timeval when = in(c.inMs.value_or(0));
        AvahiTimeout* t = api->timeout_new(api, c.inMs ? &when : nullptr, &timeoutCallback, &probe);
        spinFor(150);
        EXPECT_EQ(probe.calls, c.fires ? 1 : 0);
        api->timeout_free(t);
    }

    // Never before its time.
    Probe probe{api};
    qint64 firedAfter = -1;
    QElapsedTimer clock;
    clock.start();
    const timeval when = in(50);
    probe.onCall = [&] { firedAfter = clock.elapsed(); };
    AvahiTimeout* t = api->timeout_new(api, &when, &timeoutCallback, &probe);
    ASSERT_TRUE(spinUntil([&] { return probe.calls == 1; }));
    EXPECT_GE(firedAfter, 49);
    api->timeout_free(t);
}

TEST(AvahiQtPoll, TimeoutMayRearmOrFreeItselfInItsCallback) {
    AvahiQtPoll poll;
    const AvahiPoll* api = poll.api();
    Probe probe{api};
    AvahiTimeout* t = nullptr;
    probe.onCall = [&] {
        if (probe.calls < 3) {
            const timeval next = in(5);
            api->timeout_update(t, &next);
        } else {
            api->timeout_free(t);
        }
    };
    const timeval first = in(5);
    t = api->timeout_new(api, &first, &timeoutCallback, &probe);
    ASSERT_TRUE(spinUntil([&] { return probe.calls == 3; }));
    spinFor(60);
    EXPECT_EQ(probe.calls, 3);

    // Disarming from outside stops a pending timeout.
    Probe other{api};
    const timeval soon = in(20);
    AvahiTimeout* u = api->timeout_new(api, &soon, &timeoutCallback, &other);
    api->timeout_update(u, nullptr);
    spinFor(80);
    EXPECT_EQ(other.calls, 0);
    api->timeout_free(u);
}
