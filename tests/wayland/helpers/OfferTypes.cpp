// Sets the clipboard to one text offered under several types, the way a
// password manager adds its marker type beside the text; wl-copy offers only
// one type. Serves pastes until another client takes the clipboard.
//   tindrel_wayland_offer [--stall | --repeat N] <text> <type>...
// --stall never answers a paste (keeps the pipe open, writes nothing);
// --repeat sends the text N times over, for a paste larger than a reader takes.
#include "wlr-data-control-unstable-v1-client-protocol.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>
#include <wayland-client.h>

namespace {
struct State {
    wl_seat* seat = nullptr;
    zwlr_data_control_manager_v1* manager = nullptr;
    std::string text;
    long repeat = 1;
    bool stall = false;
    std::vector<int> stalled;
    bool cancelled = false;
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

void send(void* data, zwlr_data_control_source_v1*, const char*, int32_t fd) {
    auto* state = static_cast<State*>(data);
    if (state->stall) {
        state->stalled.push_back(fd);
        return;
    }
    // A reader that stops early closes the pipe; that ends the loop, not us.
    for (long i = 0; i < state->repeat; ++i)
        if (::write(fd, state->text.data(), state->text.size()) < 0)
            break;
    ::close(fd);
}
void cancelled(void* data, zwlr_data_control_source_v1*) {
    static_cast<State*>(data)->cancelled = true;
}
} // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    State state;
    int first = 1;
    if (argc > 1 && std::string_view(argv[1]) == "--stall") {
        state.stall = true;
        first = 2;
    } else if (argc > 2 && std::string_view(argv[1]) == "--repeat") {
        state.repeat = std::atol(argv[2]);
        first = 3;
    }
    if (argc < first + 2) {
        std::fputs("usage: tindrel_wayland_offer <text> <type>...\n", stderr);
        return 2;
    }
    wl_display* display = wl_display_connect(nullptr);
    if (!display) {
        std::fputs("no Wayland display\n", stderr);
        return 1;
    }
    state.text = argv[first];
    static const wl_registry_listener registryListener{&global, &globalRemove};
    wl_registry_add_listener(wl_display_get_registry(display), &registryListener, &state);
    wl_display_roundtrip(display);
    if (!state.seat || !state.manager) {
        std::fputs("no seat or data-control manager\n", stderr);
        return 1;
    }
    zwlr_data_control_device_v1* device =
        zwlr_data_control_manager_v1_get_data_device(state.manager, state.seat);
    zwlr_data_control_source_v1* source =
        zwlr_data_control_manager_v1_create_data_source(state.manager);
    static const zwlr_data_control_source_v1_listener sourceListener{&send, &cancelled};
    zwlr_data_control_source_v1_add_listener(source, &sourceListener, &state);
    for (int i = first + 1; i < argc; ++i)
        zwlr_data_control_source_v1_offer(source, argv[i]);
    zwlr_data_control_device_v1_set_selection(device, source);
    wl_display_roundtrip(display);
    // Tells the test the selection is set.
    std::puts("set");
    std::fflush(stdout);
    while (!state.cancelled && wl_display_dispatch(display) >= 0) {
    }
    return 0;
}
