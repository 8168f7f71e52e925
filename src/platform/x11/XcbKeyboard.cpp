#include "platform/x11/XcbKeyboard.h"

#include <xcb/xcb_keysyms.h>
#include <xkbcommon/xkbcommon-keysyms.h>

namespace {
constexpr quint32 kCtrl = 256;
constexpr quint32 kShift = 512;
constexpr quint32 kAlt = 2048;
constexpr quint32 kSuper = 4096;
} // namespace

XcbKeyboard::XcbKeyboard(XcbConnection& connection, QObject* parent)
    : QObject(parent), m_conn(connection) {
    load();
    m_conn.addEventHandler(this, [this](const xcb_generic_event_t& event) {
        if ((event.response_type & 0x7f) != XCB_MAPPING_NOTIFY)
            return;
        const auto& notify = reinterpret_cast<const xcb_mapping_notify_event_t&>(event);
        if (notify.request == XCB_MAPPING_POINTER)
            return;
        load();
        Q_EMIT mappingChanged();
    });
}

XcbKeyboard::~XcbKeyboard() {
    if (m_symbols)
        xcb_key_symbols_free(m_symbols);
}

void XcbKeyboard::load() {
    if (!m_conn.isValid())
        return;
    if (m_symbols)
        xcb_key_symbols_free(m_symbols);
    m_symbols = xcb_key_symbols_alloc(m_conn.get());

    m_modifierKeys.clear();
    m_altMask = XCB_MOD_MASK_1;
    m_superMask = XCB_MOD_MASK_4;
    m_numLockMask = XCB_MOD_MASK_2;
    const auto cookie = xcb_get_modifier_mapping(m_conn.get());
    XcbPtr<xcb_get_modifier_mapping_reply_t> reply(
        xcb_get_modifier_mapping_reply(m_conn.get(), cookie, nullptr));
    if (!reply)
        return;
    const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(reply.get());
    const int perModifier = reply->keycodes_per_modifier;
    const auto rowHolds = [this, codes, perModifier](int row, const QList<quint32>& keysyms) {
        for (int i = 0; i < perModifier; ++i) {
            const xcb_keycode_t code = codes[row * perModifier + i];
            if (code == 0)
                continue;
            for (quint32 sym : keysyms)
                if (keycodes(sym).contains(code))
                    return true;
        }
        return false;
    };
    for (int i = 0; i < 8 * perModifier; ++i)
        if (codes[i] != 0)
            m_modifierKeys.insert(codes[i]);
    // Rows 3..7 are Mod1..Mod5; where Alt, Super and NumLock sit is up to the layout.
    for (int row = 3; row < 8; ++row) {
        const auto mask = static_cast<quint16>(1u << row);
        if (rowHolds(row, {XKB_KEY_Alt_L, XKB_KEY_Alt_R, XKB_KEY_Meta_L}))
            m_altMask = mask;
        if (rowHolds(row, {XKB_KEY_Super_L, XKB_KEY_Super_R}))
            m_superMask = mask;
        if (rowHolds(row, {XKB_KEY_Num_Lock}))
            m_numLockMask = mask;
    }
}

QList<xcb_keycode_t> XcbKeyboard::keycodes(quint32 keysym) const {
    QList<xcb_keycode_t> result;
    if (!m_symbols)
        return result;
    XcbPtr<xcb_keycode_t> codes(xcb_key_symbols_get_keycode(m_symbols, keysym));
    for (const xcb_keycode_t* c = codes.get(); c && *c != XCB_NO_SYMBOL; ++c)
        if (!result.contains(*c))
            result.append(*c);
    return result;
}

quint32 XcbKeyboard::baseKeysym(xcb_keycode_t keycode) const {
    return m_symbols ? xcb_key_symbols_get_keysym(m_symbols, keycode, 0) : 0;
}

quint16 XcbKeyboard::modifierMask(quint32 comboModifiers) const {
    quint16 mask = 0;
    if (comboModifiers & kCtrl)
        mask |= XCB_MOD_MASK_CONTROL;
    if (comboModifiers & kShift)
        mask |= XCB_MOD_MASK_SHIFT;
    if (comboModifiers & kAlt)
        mask |= m_altMask;
    if (comboModifiers & kSuper)
        mask |= m_superMask;
    return mask;
}

bool XcbKeyboard::anyModifierKeyDown() {
    if (!m_conn.isValid())
        return false;
    XcbPtr<xcb_query_keymap_reply_t> reply(
        xcb_query_keymap_reply(m_conn.get(), xcb_query_keymap(m_conn.get()), nullptr));
    if (!reply)
        return false;
    for (xcb_keycode_t code : m_modifierKeys)
        if (reply->keys[code / 8] & (1u << (code % 8)))
            return true;
    return false;
}
