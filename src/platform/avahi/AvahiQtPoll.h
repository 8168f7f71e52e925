#pragma once

#include <avahi-common/watch.h>

// Runs Avahi's file watches and timeouts on the Qt event loop of the thread
// that creates it, so libavahi-client needs neither a thread of its own nor a
// loop of Avahi's. Avahi's callbacks then run on that thread, between other
// events, and may free their own watch or timeout.
//
// Everything Avahi created through api() must be freed (by freeing the
// client) before this object is destroyed.
class AvahiQtPoll final {
public:
    AvahiQtPoll();
    ~AvahiQtPoll();
    AvahiQtPoll(const AvahiQtPoll&) = delete;
    AvahiQtPoll& operator=(const AvahiQtPoll&) = delete;

    const AvahiPoll* api() const { return &m_api; }

private:
    AvahiPoll m_api{};
};
