#pragma once

#include "platform/KeySynth.h"

#include <QObject>
#include <QSocketNotifier>
#include <memory>

struct wl_display;
struct wl_registry;
struct wl_seat;
struct xkb_keymap;
struct xkb_state;
struct zwp_virtual_keyboard_manager_v1;
struct zwp_virtual_keyboard_v1;

// Key events through a virtual keyboard (zwp_virtual_keyboard_v1, offered by
// wlroots compositors such as sway): the compositor delivers them to the
// focused window, native or XWayland, like presses on a real keyboard. Runs
// its own compositor connection, so a refusal there cannot harm the
// clipboard's.
//
// No Wayland client may see the keyboard while another has the focus, so
// whether modifiers are held is asked of `modifierSource` (the XWayland
// view, which sees the keys while our own windows have the focus). Without
// it the chord is still sound on sway: the focused client gets the modifiers
// of the keyboard that sent the last key, ours, so keys the user still holds
// elsewhere do not join it.
class WaylandKeySynth final : public QObject, public KeySynth {
    Q_OBJECT
public:
    // None, with the reason in `why`, when there is no Wayland display, it
    // offers no virtual keyboard, or it refuses to make us one.
    static std::unique_ptr<WaylandKeySynth> connect(const QString& display,
                                                    KeySynth* modifierSource, QString* why);
    ~WaylandKeySynth() override;

    bool modifiersHeld() override;
    bool sendChord(PasteChord chord) override;

private:
    WaylandKeySynth(wl_display* display, KeySynth* modifierSource);
    bool setUp(QString* why);
    bool uploadKeymap(QString* why);
    // The evdev code of the first key that types `keysym` without a modifier.
    quint32 keyFor(quint32 keysym) const;
    void key(quint32 code, bool pressed);
    void dispatch();
    void lost(const QString& why);

    static void registryGlobal(void* data, wl_registry* registry, uint32_t name,
                               const char* interface, uint32_t version);
    static void registryGlobalRemove(void* data, wl_registry* registry, uint32_t name);

    wl_display* m_display;
    KeySynth* m_modifierSource;
    std::unique_ptr<QSocketNotifier> m_notifier;
    wl_registry* m_registry = nullptr;
    wl_seat* m_seat = nullptr;
    zwp_virtual_keyboard_manager_v1* m_manager = nullptr;
    zwp_virtual_keyboard_v1* m_keyboard = nullptr;
    xkb_keymap* m_keymap = nullptr;
    xkb_state* m_state = nullptr;
    bool m_dead = false;
};
