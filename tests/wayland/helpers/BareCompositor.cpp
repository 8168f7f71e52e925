// A Wayland display that offers no globals at all: a real server socket
// that answers the registry with nothing, as a compositor without the
// clipboard and keyboard protocols would. Prints "ready" once listening;
// runs until it is ended.
//   tindrel_wayland_bare <socket name>   (in $XDG_RUNTIME_DIR)
#include <cstdio>
#include <wayland-server.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: tindrel_wayland_bare <socket name>\n", stderr);
        return 2;
    }
    wl_display* display = wl_display_create();
    if (!display || wl_display_add_socket(display, argv[1]) != 0) {
        std::perror("tindrel_wayland_bare: cannot listen");
        return 1;
    }
    std::puts("ready");
    std::fflush(stdout);
    wl_display_run(display);
    wl_display_destroy(display);
    return 0;
}
