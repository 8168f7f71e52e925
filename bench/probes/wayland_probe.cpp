// Times capture under a Wayland compositor by its own events: takes the
// clipboard through data-control `copies` times and, for each, notes how
// long until a reader asks our source for the text (the compositor's send
// event). Writes one line of milliseconds per copy to <out>; a copy nobody
// asks for within 5 s is written as "missed".
//   wayland_probe <copies> <out>
#include "wlr-data-control-unstable-v1-client-protocol.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <string>
#include <string_view>
#include <unistd.h>
#include <wayland-client.h>

namespace {
using Clock = std::chrono::steady_clock;

struct State {
    wl_seat* seat = nullptr;
    zwlr_data_control_manager_v1* manager = nullptr;
    zwlr_data_control_source_v1* current = nullptr;
    std::string text;
    bool asked = false;
    Clock::time_point askedAt;
};

void global(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
    auto* state = static_cast<State*>(data);
    if (std::string_view(interface) == "wl_seat" && !state->seat)
        state->seat =
            static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    else if (std::string_view(interface) == "zwlr_data_control_manager_v1")
        state->manager = static_cast<zwlr_data_control_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_data_control_manager_v1_interface, 1));
}
void globalRemove(void*, wl_registry*, uint32_t) {}

void send(void* data, zwlr_data_control_source_v1* source, const char*, int32_t fd) {
    auto* state = static_cast<State*>(data);
    if (source == state->current && !state->asked) {
        state->asked = true;
        state->askedAt = Clock::now();
    }
    if (::write(fd, state->text.data(), state->text.size()) < 0) {
        // The reader went away; nothing to time.
    }
    ::close(fd);
}
void cancelled(void*, zwlr_data_control_source_v1* source) {
    zwlr_data_control_source_v1_destroy(source);
}

// Handles events until `until`, or until `stop` holds.
template <typename Stop> void pump(wl_display* display, Clock::time_point until, Stop stop) {
    while (!stop()) {
        wl_display_flush(display);
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        if (left <= 0)
            return;
        pollfd fd{wl_display_get_fd(display), POLLIN, 0};
        if (::poll(&fd, 1, int(left)) > 0 && wl_display_dispatch(display) < 0)
            return;
        wl_display_dispatch_pending(display);
    }
}
} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: wayland_probe <copies> <out>\n", stderr);
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);
    const int copies = std::atoi(argv[1]);
    FILE* out = std::fopen(argv[2], "w");
    wl_display* display = wl_display_connect(nullptr);
    if (!out || !display) {
        std::fputs("wayland_probe: no output file or no Wayland display\n", stderr);
        return 1;
    }
    State state;
    static const wl_registry_listener registryListener{&global, &globalRemove};
    wl_registry_add_listener(wl_display_get_registry(display), &registryListener, &state);
    wl_display_roundtrip(display);
    if (!state.seat || !state.manager) {
        std::fputs("wayland_probe: no seat or data-control manager\n", stderr);
        return 1;
    }
    zwlr_data_control_device_v1* device =
        zwlr_data_control_manager_v1_get_data_device(state.manager, state.seat);
    static const zwlr_data_control_source_v1_listener sourceListener{&send, &cancelled};
    for (int i = 0; i < copies; ++i) {
        state.text = "probe copy " + std::to_string(i);
        state.asked = false;
        state.current = zwlr_data_control_manager_v1_create_data_source(state.manager);
        zwlr_data_control_source_v1_add_listener(state.current, &sourceListener, &state);
        zwlr_data_control_source_v1_offer(state.current, "text/plain;charset=utf-8");
        zwlr_data_control_device_v1_set_selection(device, state.current);
        wl_display_flush(display);
        const auto setAt = Clock::now();
        pump(display, setAt + std::chrono::seconds(5), [&] { return state.asked; });
        if (state.asked)
            std::fprintf(out, "%.3f\n",
                         std::chrono::duration<double, std::milli>(state.askedAt - setAt).count());
        else
            std::fputs("missed\n", out);
        std::fflush(out);
        // Apart enough that one copy's recording is done before the next.
        pump(display, Clock::now() + std::chrono::milliseconds(300 + 17 * (i % 7)),
             [] { return false; });
    }
    return 0;
}
