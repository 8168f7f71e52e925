#include "platform/x11/X11KeySynth.h"

#include "platform/x11/XcbConnection.h"
#include "platform/x11/XcbKeyboard.h"

#include <QList>
#include <xcb/xtest.h>
#include <xkbcommon/xkbcommon-keysyms.h>

X11KeySynth::X11KeySynth(XcbConnection& connection, XcbKeyboard& keyboard)
    : m_conn(connection), m_keyboard(keyboard) {
    if (!m_conn.isValid())
        return;
    const xcb_query_extension_reply_t* ext = xcb_get_extension_data(m_conn.get(), &xcb_test_id);
    m_available = ext && ext->present;
}

bool X11KeySynth::modifiersHeld() {
    return m_keyboard.anyModifierKeyDown();
}

bool X11KeySynth::sendChord(PasteChord chord) {
    if (!m_available)
        return false;
    QList<quint32> modifiers;
    quint32 key = XKB_KEY_v;
    switch (chord) {
    case PasteChord::CtrlV:
        modifiers = {XKB_KEY_Control_L};
        break;
    case PasteChord::CtrlShiftV:
        modifiers = {XKB_KEY_Control_L, XKB_KEY_Shift_L};
        break;
    case PasteChord::ShiftInsert:
        modifiers = {XKB_KEY_Shift_L};
        key = XKB_KEY_Insert;
        break;
    }
    QList<xcb_keycode_t> codes;
    for (quint32 sym : modifiers) {
        const QList<xcb_keycode_t> found = m_keyboard.keycodes(sym);
        if (found.isEmpty())
            return false;
        codes.append(found.first());
    }
    const QList<xcb_keycode_t> keyCodes = m_keyboard.keycodes(key);
    if (keyCodes.isEmpty())
        return false;
    codes.append(keyCodes.first());

    // A shortcut key still held keeps the keyboard grabbed by our hot-key
    // grab (it lasts until that key is released, whatever the modifiers do),
    // and the fake keys would come back to us instead of the focused window.
    // The hot keys grab on this same connection, so this ungrab releases it;
    // the server takes it before the fake input that follows.
    xcb_ungrab_keyboard(m_conn.get(), XCB_CURRENT_TIME);
    // Press in order, release in reverse, as a person would.
    for (xcb_keycode_t code : codes)
        xcb_test_fake_input(m_conn.get(), XCB_KEY_PRESS, code, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    for (auto it = codes.crbegin(); it != codes.crend(); ++it)
        xcb_test_fake_input(m_conn.get(), XCB_KEY_RELEASE, *it, XCB_CURRENT_TIME, XCB_NONE, 0, 0,
                            0);
    m_conn.flush();
    return true;
}
