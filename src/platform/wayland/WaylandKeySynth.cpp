#include "platform/wayland/WaylandKeySynth.h"

#include "core/util/Log.h"
#include "platform/wayland/WaylandClient.h"

#include "virtual-keyboard-unstable-v1-client-protocol.h"

#include <QList>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {
constexpr auto kRoundtripTimeout = 2000ms;
// Key codes on the wire are evdev codes; xkb numbers them 8 higher.
constexpr quint32 kEvdevOffset = 8;

quint32 nowMs() {
    return static_cast<quint32>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                    std::chrono::steady_clock::now().time_since_epoch())
                                    .count());
}
} // namespace

std::unique_ptr<WaylandKeySynth> WaylandKeySynth::connect(const QString& display,
                                                          KeySynth* modifierSource, QString* why) {
    wl_display* connection = WaylandClient::open(display, why);
    if (!connection)
        return nullptr;
    std::unique_ptr<WaylandKeySynth> synth(new WaylandKeySynth(connection, modifierSource));
    if (!synth->setUp(why))
        return nullptr;
    return synth;
}

WaylandKeySynth::WaylandKeySynth(wl_display* display, KeySynth* modifierSource)
    : m_display(display), m_modifierSource(modifierSource) {}

WaylandKeySynth::~WaylandKeySynth() {
    m_notifier.reset();
    if (m_keyboard)
        zwp_virtual_keyboard_v1_destroy(m_keyboard);
    if (m_manager)
        zwp_virtual_keyboard_manager_v1_destroy(m_manager);
    if (m_seat)
        wl_seat_destroy(m_seat);
    if (m_registry)
        wl_registry_destroy(m_registry);
    xkb_state_unref(m_state);
    xkb_keymap_unref(m_keymap);
    wl_display_flush(m_display);
    wl_display_disconnect(m_display);
}

void WaylandKeySynth::registryGlobal(void* data, wl_registry* registry, uint32_t name,
                                     const char* interface, uint32_t) {
    auto* self = static_cast<WaylandKeySynth*>(data);
    const std::string_view iface(interface);
    if (iface == "wl_seat" && !self->m_seat) {
        // The first seat, as for the clipboard: the one the user types on.
        self->m_seat =
            static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    } else if (iface == "zwp_virtual_keyboard_manager_v1" && !self->m_manager) {
        self->m_manager = static_cast<zwp_virtual_keyboard_manager_v1*>(
            wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
    }
}

void WaylandKeySynth::registryGlobalRemove(void*, wl_registry*, uint32_t) {
    // The seat going away ends our keyboard; the next chord then fails.
}

bool WaylandKeySynth::setUp(QString* why) {
    static const wl_registry_listener registryListener{&registryGlobal, &registryGlobalRemove};
    m_registry = wl_display_get_registry(m_display);
    wl_registry_add_listener(m_registry, &registryListener, this);
    if (!WaylandClient::roundtrip(m_display, kRoundtripTimeout)) {
        *why = u"the Wayland compositor did not answer"_s;
        return false;
    }
    if (!m_manager) {
        *why = u"the Wayland compositor offers no virtual keyboard"_s;
        return false;
    }
    if (!m_seat) {
        *why = u"the Wayland compositor has no seat"_s;
        return false;
    }
    m_keyboard = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(m_manager, m_seat);
    if (!uploadKeymap(why))
        return false;
    // A compositor that does not trust us answers with a protocol error,
    // which ends this connection (only this one).
    if (!WaylandClient::roundtrip(m_display, kRoundtripTimeout) ||
        wl_display_get_error(m_display) != 0) {
        *why = u"the Wayland compositor refused us a virtual keyboard"_s;
        return false;
    }
    m_notifier =
        std::make_unique<QSocketNotifier>(wl_display_get_fd(m_display), QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, this,
                     &WaylandKeySynth::dispatch);
    return true;
}

bool WaylandKeySynth::uploadKeymap(QString* why) {
    // A plain US keymap of our own: the keys we press are named by it, and
    // the focused client reads them through it, whatever the user's layout.
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
    if (!context) {
        *why = u"no keyboard description library context"_s;
        return false;
    }
    const xkb_rule_names names{"evdev", "pc105", "us", "", ""};
    m_keymap = xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
    xkb_context_unref(context);
    if (!m_keymap) {
        *why = u"the US keymap could not be compiled (is xkb-data installed?)"_s;
        return false;
    }
    m_state = xkb_state_new(m_keymap);
    char* text = xkb_keymap_get_as_string(m_keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
    // The compositor maps the file and reads up to the terminating NUL.
    const size_t size = text ? std::strlen(text) + 1 : 0;
    const int fd = ::memfd_create("tindrel-keymap", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    bool written = fd >= 0 && size > 0;
    for (size_t done = 0; written && done < size;) {
        const ssize_t n = ::write(fd, text + done, size - done);
        written = n > 0;
        done += written ? size_t(n) : 0;
    }
    std::free(text);
    if (!written) {
        if (fd >= 0)
            ::close(fd);
        *why = u"the keymap could not be written to shared memory"_s;
        return false;
    }
    // The compositor may keep mapping it; nobody may change it under it.
    ::fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL);
    zwp_virtual_keyboard_v1_keymap(m_keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                   static_cast<uint32_t>(size));
    ::close(fd);
    return true;
}

quint32 WaylandKeySynth::keyFor(quint32 keysym) const {
    const xkb_keycode_t last = xkb_keymap_max_keycode(m_keymap);
    for (xkb_keycode_t code = xkb_keymap_min_keycode(m_keymap); code <= last; ++code) {
        const xkb_keysym_t* syms = nullptr;
        const int count = xkb_keymap_key_get_syms_by_level(m_keymap, code, 0, 0, &syms);
        for (int i = 0; i < count; ++i)
            if (syms[i] == keysym && code >= kEvdevOffset)
                return code - kEvdevOffset;
    }
    return 0;
}

void WaylandKeySynth::key(quint32 code, bool pressed) {
    zwp_virtual_keyboard_v1_key(m_keyboard, nowMs(), code,
                                pressed ? WL_KEYBOARD_KEY_STATE_PRESSED
                                        : WL_KEYBOARD_KEY_STATE_RELEASED);
    // Compositors differ in whether a key press alone updates the modifiers
    // the focused client sees; telling them keeps every one right.
    const auto changed =
        xkb_state_update_key(m_state, code + kEvdevOffset, pressed ? XKB_KEY_DOWN : XKB_KEY_UP);
    if (changed != 0)
        zwp_virtual_keyboard_v1_modifiers(
            m_keyboard, xkb_state_serialize_mods(m_state, XKB_STATE_MODS_DEPRESSED),
            xkb_state_serialize_mods(m_state, XKB_STATE_MODS_LATCHED),
            xkb_state_serialize_mods(m_state, XKB_STATE_MODS_LOCKED),
            xkb_state_serialize_layout(m_state, XKB_STATE_LAYOUT_EFFECTIVE));
}

bool WaylandKeySynth::modifiersHeld() {
    return m_modifierSource && m_modifierSource->modifiersHeld();
}

bool WaylandKeySynth::sendChord(PasteChord chord) {
    if (m_dead)
        return false;
    QList<quint32> keysyms;
    switch (chord) {
    case PasteChord::CtrlV:
        keysyms = {XKB_KEY_Control_L, XKB_KEY_v};
        break;
    case PasteChord::CtrlShiftV:
        keysyms = {XKB_KEY_Control_L, XKB_KEY_Shift_L, XKB_KEY_v};
        break;
    case PasteChord::ShiftInsert:
        keysyms = {XKB_KEY_Shift_L, XKB_KEY_Insert};
        break;
    }
    QList<quint32> codes;
    for (quint32 sym : keysyms) {
        const quint32 code = keyFor(sym);
        if (code == 0)
            return false;
        codes.append(code);
    }
    // Press in order, release in reverse, as a person would.
    for (quint32 code : codes)
        key(code, true);
    for (auto it = codes.crbegin(); it != codes.crend(); ++it)
        key(*it, false);
    if (!WaylandClient::flush(m_display)) {
        lost(u"the connection to the Wayland compositor broke"_s);
        return false;
    }
    return true;
}

void WaylandKeySynth::dispatch() {
    if (!m_dead && !WaylandClient::dispatch(m_display))
        lost(u"the connection to the Wayland compositor broke"_s);
}

void WaylandKeySynth::lost(const QString& why) {
    if (m_dead)
        return;
    m_dead = true;
    if (m_notifier)
        m_notifier->setEnabled(false);
    Log::write(u"Tindrel: pasting through the Wayland virtual keyboard stopped working: "_s + why);
}
