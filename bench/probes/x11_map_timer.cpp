// Times windows coming onto the screen by the X server's own MapNotify
// events, so the measurement costs one event read instead of a polling tool's
// round trips. Windows are picked by the class part of WM_CLASS and a width
// range (tray icon: narrow; panel: wide).
//
//   x11_map_timer launch --class NAME [--min-width N] [--max-width N]
//                 [--timeout MS] -- COMMAND [ARG]...
//       starts COMMAND and prints "PID MS": its process id and the
//       milliseconds from the start to the first matching window mapped.
//       COMMAND keeps running, its output going to our standard error.
//   x11_map_timer hotkey --class NAME --keys ctrl+alt+v [--close Escape]
//                 [--min-width N] [--max-width N] [--count N] [--timeout MS]
//       N times: sends the key chord through XTest and waits for a matching
//       window to be mapped; then sends the close key and waits for that
//       window to be unmapped. Prints "OPEN_MS CLOSE_MS" per opening ("OPEN_MS"
//       alone without --close, "OPEN_MS timeout" when it did not close).
// Exit status 1 when a window did not come (or go) within the time-out.
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <poll.h>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;

struct Options {
    std::string mode;
    std::string windowClass;
    int minWidth = 0;
    int maxWidth = 1 << 30;
    int timeoutMs = 10000;
    int count = 7;
    std::string keys;
    std::string closeKey;
    // execvp's argument list: the command's words, then a null.
    std::vector<char*> command;
};

[[noreturn]] void usage() {
    std::fputs("usage: x11_map_timer launch|hotkey --class NAME [options] [-- COMMAND...]\n",
               stderr);
    std::exit(2);
}

Options parse(int argc, char** argv) {
    if (argc < 2)
        usage();
    Options o;
    o.mode = argv[1];
    for (int i = 2; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc)
                usage();
            return argv[++i];
        };
        if (arg == "--") {
            if (i + 1 < argc) {
                o.command.assign(argv + i + 1, argv + argc);
                o.command.push_back(nullptr);
            }
            break;
        }
        if (arg == "--class")
            o.windowClass = value();
        else if (arg == "--min-width")
            o.minWidth = std::atoi(value());
        else if (arg == "--max-width")
            o.maxWidth = std::atoi(value());
        else if (arg == "--timeout")
            o.timeoutMs = std::atoi(value());
        else if (arg == "--count")
            o.count = std::atoi(value());
        else if (arg == "--keys")
            o.keys = value();
        else if (arg == "--close")
            o.closeKey = value();
        else
            usage();
    }
    if (o.windowClass.empty() || (o.mode == "launch" && o.command.empty()) ||
        (o.mode == "hotkey" && o.keys.empty()) || (o.mode != "launch" && o.mode != "hotkey"))
        usage();
    return o;
}

class Watcher {
public:
    explicit Watcher(const Options& options) : m_options(options) {
        m_conn = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(m_conn)) {
            std::fputs("x11_map_timer: cannot open the display\n", stderr);
            std::exit(1);
        }
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_conn)).data->root;
        m_wmClass = atom("WM_CLASS");
        // New top-level windows show up here; each is then watched itself, so
        // its map is seen wherever a window manager or tray reparents it.
        const uint32_t rootMask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(m_conn, m_root, XCB_CW_EVENT_MASK, &rootMask);
        watchTree(m_root, 3);
        xcb_flush(m_conn);
        m_symbols = xcb_key_symbols_alloc(m_conn);
    }
    ~Watcher() {
        xcb_key_symbols_free(m_symbols);
        xcb_disconnect(m_conn);
    }

    // Waits for a matching window to be mapped (or, with `unmap`, for
    // `window` to be unmapped). Returns the window, or nothing on time-out.
    std::optional<xcb_window_t> wait(Clock::time_point deadline, bool unmap = false,
                                     xcb_window_t window = 0) {
        while (true) {
            while (xcb_generic_event_t* raw = xcb_poll_for_event(m_conn)) {
                std::unique_ptr<xcb_generic_event_t, decltype(&std::free)> event(raw, &std::free);
                const uint8_t type = event->response_type & 0x7f;
                if (type == XCB_CREATE_NOTIFY) {
                    watch(reinterpret_cast<xcb_create_notify_event_t*>(raw)->window);
                    xcb_flush(m_conn);
                } else if (type == XCB_MAP_NOTIFY && !unmap) {
                    const xcb_window_t mapped =
                        reinterpret_cast<xcb_map_notify_event_t*>(raw)->window;
                    if (matches(mapped))
                        return mapped;
                } else if (type == XCB_UNMAP_NOTIFY && unmap) {
                    if (reinterpret_cast<xcb_unmap_notify_event_t*>(raw)->window == window)
                        return window;
                }
            }
            if (xcb_connection_has_error(m_conn))
                return std::nullopt;
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0)
                return std::nullopt;
            pollfd fd{xcb_get_file_descriptor(m_conn), POLLIN, 0};
            ::poll(&fd, 1, static_cast<int>(left.count()));
        }
    }

    // "ctrl+alt+v": presses the keys in order, releases them in reverse.
    bool sendChord(const std::string& chord) {
        std::vector<xcb_keycode_t> codes;
        size_t start = 0;
        while (start <= chord.size()) {
            const size_t end = chord.find('+', start);
            const std::string name =
                chord.substr(start, end == std::string::npos ? std::string::npos : end - start);
            const xcb_keycode_t code = keycode(name);
            if (!code) {
                std::fprintf(stderr, "x11_map_timer: unknown key %s\n", name.c_str());
                return false;
            }
            codes.push_back(code);
            if (end == std::string::npos)
                break;
            start = end + 1;
        }
        for (xcb_keycode_t code : codes)
            xcb_test_fake_input(m_conn, XCB_KEY_PRESS, code, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        for (auto it = codes.rbegin(); it != codes.rend(); ++it)
            xcb_test_fake_input(m_conn, XCB_KEY_RELEASE, *it, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        xcb_flush(m_conn);
        return true;
    }

private:
    xcb_atom_t atom(const char* name) {
        auto* reply = xcb_intern_atom_reply(
            m_conn, xcb_intern_atom(m_conn, 0, static_cast<uint16_t>(std::strlen(name)), name),
            nullptr);
        const xcb_atom_t result = reply ? reply->atom : XCB_NONE;
        std::free(reply);
        return result;
    }

    void watch(xcb_window_t window) {
        if (!m_watched.insert(window).second)
            return;
        const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        xcb_change_window_attributes(m_conn, window, XCB_CW_EVENT_MASK, &mask);
    }

    // Windows that existed before we connected: top levels and, below
    // window-manager frames, the clients.
    void watchTree(xcb_window_t parent, int depth) {
        auto* reply = xcb_query_tree_reply(m_conn, xcb_query_tree(m_conn, parent), nullptr);
        if (!reply)
            return;
        const xcb_window_t* children = xcb_query_tree_children(reply);
        const int count = xcb_query_tree_children_length(reply);
        for (int i = 0; i < count; ++i) {
            watch(children[i]);
            if (depth > 1)
                watchTree(children[i], depth - 1);
        }
        std::free(reply);
    }

    bool matches(xcb_window_t window) {
        auto* prop = xcb_get_property_reply(
            m_conn, xcb_get_property(m_conn, 0, window, m_wmClass, XCB_ATOM_STRING, 0, 256),
            nullptr);
        bool classOk = false;
        if (prop) {
            // "instance\0class\0"
            const char* data = static_cast<const char*>(xcb_get_property_value(prop));
            const int length = xcb_get_property_value_length(prop);
            const std::string value(data, static_cast<size_t>(length));
            const size_t split = value.find('\0');
            if (split != std::string::npos) {
                const std::string instance = value.substr(0, split);
                std::string cls = value.substr(split + 1);
                if (!cls.empty() && cls.back() == '\0')
                    cls.pop_back();
                classOk = instance == m_options.windowClass || cls == m_options.windowClass;
            }
            std::free(prop);
        }
        if (!classOk)
            return false;
        auto* geometry = xcb_get_geometry_reply(m_conn, xcb_get_geometry(m_conn, window), nullptr);
        if (!geometry)
            return false;
        const int width = geometry->width;
        std::free(geometry);
        return width >= m_options.minWidth && width <= m_options.maxWidth;
    }

    xcb_keycode_t keycode(const std::string& name) {
        static const std::pair<std::string_view, xcb_keysym_t> named[] = {
            {"ctrl", 0xffe3},   {"control", 0xffe3}, {"alt", 0xffe9},
            {"shift", 0xffe1},  {"super", 0xffeb},   {"escape", 0xff1b},
            {"Escape", 0xff1b}, {"return", 0xff0d},  {"Return", 0xff0d},
        };
        xcb_keysym_t sym = 0;
        for (const auto& [key, value] : named)
            if (name == key)
                sym = value;
        if (!sym && name.size() == 1)
            sym = static_cast<unsigned char>(name[0]); // Latin-1 keysyms are the characters
        if (!sym)
            return 0;
        xcb_keycode_t* codes = xcb_key_symbols_get_keycode(m_symbols, sym);
        const xcb_keycode_t code = codes ? codes[0] : 0;
        std::free(codes);
        return code == XCB_NO_SYMBOL ? 0 : code;
    }

    const Options& m_options;
    xcb_connection_t* m_conn = nullptr;
    xcb_window_t m_root = 0;
    xcb_atom_t m_wmClass = XCB_NONE;
    xcb_key_symbols_t* m_symbols = nullptr;
    std::set<xcb_window_t> m_watched;
};

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

int launch(const Options& o) {
    Watcher watcher(o);
    const Clock::time_point start = Clock::now();
    const pid_t pid = fork();
    if (pid < 0)
        return 1;
    if (pid == 0) {
        // The command outlives us; our output is the caller's answer, which it
        // reads to the end, so the command must not hold it open.
        dup2(STDERR_FILENO, STDOUT_FILENO);
        execvp(o.command[0], o.command.data());
        std::perror("x11_map_timer: exec");
        _exit(127);
    }
    if (!watcher.wait(start + std::chrono::milliseconds(o.timeoutMs))) {
        std::printf("%d timeout\n", pid);
        return 1;
    }
    std::printf("%d %.2f\n", pid, millisecondsSince(start));
    return 0;
}

int hotkey(const Options& o) {
    Watcher watcher(o);
    for (int i = 0; i < o.count; ++i) {
        const Clock::time_point start = Clock::now();
        if (!watcher.sendChord(o.keys))
            return 2;
        const std::optional<xcb_window_t> window =
            watcher.wait(start + std::chrono::milliseconds(o.timeoutMs));
        if (!window) {
            std::puts("timeout");
            return 1;
        }
        const double opened = millisecondsSince(start);
        if (o.closeKey.empty()) {
            std::printf("%.2f\n", opened);
            break;
        }
        // Let the panel take the keyboard before closing it; then stay past
        // its guard against reopening at once.
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        const Clock::time_point closing = Clock::now();
        if (!watcher.sendChord(o.closeKey))
            return 2;
        if (!watcher.wait(closing + std::chrono::milliseconds(o.timeoutMs), true, *window)) {
            std::printf("%.2f timeout\n", opened);
            return 1;
        }
        std::printf("%.2f %.2f\n", opened, millisecondsSince(closing));
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::milliseconds(350));
    }
    return 0;
}
} // namespace

int main(int argc, char** argv) {
    const Options options = parse(argc, argv);
    return options.mode == "launch" ? launch(options) : hotkey(options);
}
