#include "platform/wayland/WaylandClient.h"

#include <cerrno>
#include <poll.h>
#include <wayland-client.h>

using namespace Qt::StringLiterals;

namespace WaylandClient {

wl_display* open(const QString& display, QString* why) {
    const QByteArray name = display.toLocal8Bit();
    if (name.isEmpty() && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        *why = u"WAYLAND_DISPLAY is not set"_s;
        return nullptr;
    }
    wl_display* connection = wl_display_connect(name.isEmpty() ? nullptr : name.constData());
    if (!connection)
        *why = u"cannot connect to the Wayland display"_s;
    return connection;
}

bool roundtrip(wl_display* display, std::chrono::milliseconds timeout) {
    bool done = false;
    static const wl_callback_listener listener{[](void* data, wl_callback* callback, uint32_t) {
        *static_cast<bool*>(data) = true;
        wl_callback_destroy(callback);
    }};
    wl_callback* callback = wl_display_sync(display);
    wl_callback_add_listener(callback, &listener, &done);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done) {
        while (wl_display_prepare_read(display) != 0)
            wl_display_dispatch_pending(display);
        wl_display_flush(display);
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd fd{wl_display_get_fd(display), POLLIN, 0};
        const int ready = left.count() > 0 ? ::poll(&fd, 1, static_cast<int>(left.count())) : 0;
        if (ready <= 0) {
            wl_display_cancel_read(display);
            if (ready < 0 && errno == EINTR)
                continue;
            return false;
        }
        if (wl_display_read_events(display) < 0)
            return false;
        if (wl_display_dispatch_pending(display) < 0)
            return false;
    }
    return true;
}

bool dispatch(wl_display* display) {
    while (wl_display_prepare_read(display) != 0)
        wl_display_dispatch_pending(display);
    return wl_display_read_events(display) >= 0 && wl_display_dispatch_pending(display) >= 0;
}

bool flush(wl_display* display) {
    return wl_display_flush(display) >= 0 || errno == EAGAIN;
}

} // namespace WaylandClient
