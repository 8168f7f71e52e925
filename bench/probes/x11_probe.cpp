// Times what a user feels of a clipboard manager from the outside, through
// the X server's own events:
//
//   x11_probe capture <copies> <out-file>
//       Owns CLIPBOARD <copies> times with a new text each time, spaced so
//       that the copies fall evenly over a 0.4 s poll period, and writes one
//       line per reader and copy: "<reader> <ms>", the time from taking the
//       clipboard to that reader's first request for the text. The reader
//       is "tindrel" when the requesting window is named so, else "other".
//
//   x11_probe panel <rounds> <out-file>
//       Takes the clipboard and, as soon as the first request for it comes
//       (tindrel is reading), presses Ctrl+Alt+V through XTest and waits for
//       the X server to map a tindrel window at least 280 pixels wide, then
//       presses Escape and lets 1.5 s pass, past any time-out of the read.
//       Rounds alternate between an owner that answers and one that never
//       does; each writes "<answering|hung> <ms>", key press to MapNotify.
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <poll.h>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

template <typename T> using Reply = std::unique_ptr<T, decltype(&std::free)>;
template <typename T> Reply<T> own(T* p) {
    return Reply<T>(p, &std::free);
}

xcb_atom_t intern(xcb_connection_t* c, const char* name) {
    auto reply = own(xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr));
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

std::string property(xcb_connection_t* c, xcb_window_t w, xcb_atom_t name) {
    auto reply = own(xcb_get_property_reply(
        c, xcb_get_property(c, 0, w, name, XCB_GET_PROPERTY_TYPE_ANY, 0, 256), nullptr));
    if (!reply)
        return {};
    return std::string(static_cast<const char*>(xcb_get_property_value(reply.get())),
                       static_cast<size_t>(xcb_get_property_value_length(reply.get())));
}

xcb_screen_t* screenOf(xcb_connection_t* c) {
    return xcb_setup_roots_iterator(xcb_get_setup(c)).data;
}

// A clipboard owner on a connection of its own.
class Owner {
public:
    Owner() : m_conn(xcb_connect(nullptr, nullptr)) {
        xcb_screen_t* screen = screenOf(m_conn);
        m_window = xcb_generate_id(m_conn);
        const uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_create_window(m_conn, XCB_COPY_FROM_PARENT, m_window, screen->root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK,
                          &events);
        m_clipboard = intern(m_conn, "CLIPBOARD");
        m_targets = intern(m_conn, "TARGETS");
        m_utf8 = intern(m_conn, "UTF8_STRING");
        m_plain = intern(m_conn, "text/plain;charset=utf-8");
        m_plainAny = intern(m_conn, "text/plain");
        m_wmName = XCB_ATOM_WM_NAME;
        xcb_flush(m_conn);
    }
    ~Owner() { xcb_disconnect(m_conn); }
    int fd() const { return xcb_get_file_descriptor(m_conn); }
    // Requests seen since the last take, answered or not.
    int requests() const { return m_requests; }

    // Takes the clipboard with a new text; the time the server took it is
    // the reference of the latencies.
    Clock::time_point take(std::string text, bool answering) {
        m_text = std::move(text);
        m_answering = answering;
        m_firstAsk.clear();
        m_requests = 0;
        // A real time stamp, as owners must use: from a property change.
        xcb_change_property(m_conn, XCB_PROP_MODE_APPEND, m_window, XCB_ATOM_WM_NAME,
                            XCB_ATOM_STRING, 8, 0, "");
        xcb_flush(m_conn);
        xcb_timestamp_t time = XCB_CURRENT_TIME;
        while (auto* e = xcb_wait_for_event(m_conn)) {
            auto event = own(e);
            if ((e->response_type & 0x7f) == XCB_PROPERTY_NOTIFY) {
                time = reinterpret_cast<xcb_property_notify_event_t*>(e)->time;
                break;
            }
        }
        xcb_set_selection_owner(m_conn, m_window, m_clipboard, time);
        // The owner request is done once the server answers the next one.
        own(xcb_get_selection_owner_reply(m_conn, xcb_get_selection_owner(m_conn, m_clipboard),
                                          nullptr));
        m_taken = Clock::now();
        return m_taken;
    }

    // Handles what has arrived; calls `asked` with the requestor's name on
    // the first text request of each requestor since the last take.
    void serve(const std::function<void(const std::string&, double)>& asked) {
        while (auto* e = xcb_poll_for_event(m_conn)) {
            auto event = own(e);
            if ((e->response_type & 0x7f) != XCB_SELECTION_REQUEST)
                continue;
            ++m_requests;
            if (!m_answering)
                continue;
            const auto* request = reinterpret_cast<xcb_selection_request_event_t*>(e);
            const double ms = msSince(m_taken);
            const bool text = request->target == m_utf8 || request->target == m_plain ||
                              request->target == m_plainAny || request->target == XCB_ATOM_STRING;
            if (text && m_firstAsk.insert(request->requestor).second && asked) {
                const std::string name = property(m_conn, request->requestor, m_wmName);
                asked(name == "tindrel selection reader" ? "tindrel" : "other", ms);
            }
            answer(*request, text);
        }
    }

private:
    void answer(const xcb_selection_request_event_t& request, bool text) {
        xcb_atom_t property = request.property == XCB_ATOM_NONE ? request.target : request.property;
        if (request.target == m_targets) {
            const xcb_atom_t list[] = {m_targets, m_utf8, m_plain, m_plainAny, XCB_ATOM_STRING};
            xcb_change_property(m_conn, XCB_PROP_MODE_REPLACE, request.requestor, property,
                                XCB_ATOM_ATOM, 32, 5, list);
        } else if (text) {
            xcb_change_property(m_conn, XCB_PROP_MODE_REPLACE, request.requestor, property,
                                request.target, 8, static_cast<uint32_t>(m_text.size()),
                                m_text.data());
        } else {
            property = XCB_ATOM_NONE;
        }
        xcb_selection_notify_event_t notify{};
        notify.response_type = XCB_SELECTION_NOTIFY;
        notify.time = request.time;
        notify.requestor = request.requestor;
        notify.selection = request.selection;
        notify.target = request.target;
        notify.property = property;
        xcb_send_event(m_conn, 0, request.requestor, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char*>(&notify));
        xcb_flush(m_conn);
    }

    xcb_connection_t* m_conn;
    xcb_window_t m_window = 0;
    xcb_atom_t m_clipboard = 0, m_targets = 0, m_utf8 = 0, m_plain = 0, m_plainAny = 0;
    xcb_atom_t m_wmName = 0;
    std::string m_text;
    bool m_answering = true;
    std::set<xcb_window_t> m_firstAsk;
    int m_requests = 0;
    Clock::time_point m_taken;
};

// Runs `owner` (answering, or not reading at all when hung) and `other`
// until `done` says so or the time is up.
void pump(Owner& owner, const std::function<void(const std::string&, double)>& asked,
          xcb_connection_t* other, const std::function<bool(xcb_generic_event_t&)>& onOther,
          double forMs, const std::function<bool()>& done) {
    const auto t0 = Clock::now();
    for (;;) {
        owner.serve(asked);
        if (other) {
            while (auto* e = xcb_poll_for_event(other)) {
                auto event = own(e);
                if (onOther && onOther(*e))
                    return;
            }
        }
        if ((done && done()) || msSince(t0) >= forMs)
            return;
        pollfd fds[2] = {{owner.fd(), POLLIN, 0},
                         {other ? xcb_get_file_descriptor(other) : -1, POLLIN, 0}};
        ::poll(fds, other ? 2 : 1, 5);
    }
}

int capture(int copies, const char* outPath) {
    Owner owner;
    std::ofstream out(outPath);
    for (int i = 0; i < copies; ++i) {
        owner.take("copy number " + std::to_string(i) + " of the capture probe", true);
        int readers = 0;
        pump(
            owner,
            [&](const std::string& who, double ms) {
                out << who << ' ' << ms << '\n';
                out.flush();
                ++readers;
            },
            nullptr, {}, 1500, [&] { return readers >= 2; });
        // Spread the next copy over the poll period: 0.4 s in 20 steps.
        std::this_thread::sleep_for(std::chrono::milliseconds(300 + (i * 20) % 400));
        pump(owner, {}, nullptr, {}, 0, {});
    }
    return 0;
}

// Whether a window, or one below it, is a tindrel window at least 280 wide.
bool isPanel(xcb_connection_t* c, xcb_window_t w, xcb_atom_t wmClass) {
    const std::string cls = property(c, w, wmClass);
    if (cls.rfind("tindrel", 0) == 0) {
        auto geometry = own(xcb_get_geometry_reply(c, xcb_get_geometry(c, w), nullptr));
        return geometry && geometry->width >= 280;
    }
    auto tree = own(xcb_query_tree_reply(c, xcb_query_tree(c, w), nullptr));
    if (!tree)
        return false;
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i)
        if (isPanel(c, children[i], wmClass))
            return true;
    return false;
}

int panel(int rounds, const char* outPath) {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c))
        return 1;
    xcb_screen_t* screen = screenOf(c);
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, screen->root, XCB_CW_EVENT_MASK, &mask);
    const xcb_atom_t wmClass = intern(c, "WM_CLASS");
    xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(c);
    auto code = [&](xcb_keysym_t sym) {
        xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols, sym);
        const xcb_keycode_t k = codes ? codes[0] : 0;
        std::free(codes);
        return k;
    };
    const xcb_keycode_t ctrl = code(0xffe3), alt = code(0xffe9), v = code('v'), esc = code(0xff1b);
    auto keys = [&](std::initializer_list<xcb_keycode_t> chord) {
        for (xcb_keycode_t k : chord)
            xcb_test_fake_input(c, XCB_KEY_PRESS, k, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        for (auto it = std::rbegin(chord); it != std::rend(chord); ++it)
            xcb_test_fake_input(c, XCB_KEY_RELEASE, *it, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        xcb_flush(c);
    };
    std::ofstream out(outPath);
    for (int i = 0; i < rounds + 1; ++i) { // the first round warms up
        const bool hung = i % 2 == 1;
        Owner owner;
        owner.take("probe " + std::to_string(i), !hung);
        pump(owner, {}, c, {}, 2000, [&] { return owner.requests() > 0; });
        const auto t0 = Clock::now();
        keys({ctrl, alt, v});
        double mapped = -1;
        xcb_window_t panelWindow = XCB_NONE;
        pump(owner, {}, c,
             [&](xcb_generic_event_t& e) {
                 if ((e.response_type & 0x7f) != XCB_MAP_NOTIFY)
                     return false;
                 const double ms = msSince(t0);
                 const xcb_window_t w = reinterpret_cast<xcb_map_notify_event_t&>(e).window;
                 if (!isPanel(c, w, wmClass))
                     return false;
                 panelWindow = w;
                 mapped = ms;
                 return true;
             },
             5000, {});
        if (mapped < 0) {
            std::fprintf(stderr, "round %d: the panel did not map\n", i);
            return 1;
        }
        if (i > 0)
            out << (hung ? "hung " : "answering ") << mapped << std::endl;
        // Escape only once the panel has the keyboard, until it is gone:
        // a panel left open would turn the next hot key into a close.
        bool unmapped = false;
        for (int attempt = 0; attempt < 5 && !unmapped; ++attempt) {
            pump(owner, {}, c, {}, 300, {});
            keys({esc});
            pump(owner, {}, c,
                 [&](xcb_generic_event_t& e) {
                     unmapped =
                         (e.response_type & 0x7f) == XCB_UNMAP_NOTIFY &&
                         reinterpret_cast<xcb_unmap_notify_event_t&>(e).window == panelWindow;
                     return unmapped;
                 },
                 1000, {});
        }
        pump(owner, {}, c, {}, 1500, {}); // past the read's time-out and the toggle debounce
    }
    xcb_key_symbols_free(symbols);
    xcb_disconnect(c);
    return 0;
}
} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "capture") == 0)
        return capture(std::atoi(argv[2]), argv[3]);
    if (argc == 4 && std::strcmp(argv[1], "panel") == 0)
        return panel(std::atoi(argv[2]), argv[3]);
    std::fputs("usage: x11_probe capture <copies> <out> | panel <rounds> <out>\n", stderr);
    return 2;
}
