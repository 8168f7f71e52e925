#include "platform/x11/X11HotKeyService.h"

#include "platform/x11/XcbConnection.h"
#include "platform/x11/XcbKeyboard.h"

#include <utility>

X11HotKeyService::X11HotKeyService(XcbConnection& connection, XcbKeyboard& keyboard,
                                   QObject* parent)
    : QObject(parent), m_conn(connection), m_keyboard(keyboard) {
    m_conn.addEventHandler(this, [this](const xcb_generic_event_t& e) { handleEvent(e); });
    connect(&m_keyboard, &XcbKeyboard::mappingChanged, this, &X11HotKeyService::regrabAll);
    m_conn.watchEvents();
}

X11HotKeyService::~X11HotKeyService() {
    for (const Registration& r : std::as_const(m_registrations))
        ungrab(r);
    m_conn.flush();
}

QList<quint16> X11HotKeyService::lockVariants() const {
    const quint16 numLock = m_keyboard.numLockMask();
    return {0, XCB_MOD_MASK_LOCK, numLock, static_cast<quint16>(XCB_MOD_MASK_LOCK | numLock)};
}

int X11HotKeyService::registerHotKey(quint32 id, quint32 keyCode, quint32 modifiers) {
    if (!m_conn.isValid())
        return XCB_CONN_ERROR;
    if (m_registrations.contains(id))
        unregisterHotKey(id);
    Registration r;
    r.keysym = keyCode;
    r.comboModifiers = modifiers;
    resolve(r);
    if (heldByAnother(r, id))
        return XCB_ACCESS;
    const int status = grab(r);
    if (status != 0)
        return status;
    m_registrations.insert(id, r);
    return 0;
}

void X11HotKeyService::unregisterHotKey(quint32 id) {
    const auto it = m_registrations.constFind(id);
    if (it == m_registrations.constEnd())
        return;
    ungrab(*it);
    m_registrations.erase(it);
    m_conn.flush();
}

void X11HotKeyService::resolve(Registration& r) const {
    r.mask = m_keyboard.modifierMask(r.comboModifiers);
    // A keysym the current layout cannot type is kept without a grab: it
    // can't be pressed now, and a later layout may have it.
    r.keycodes = m_keyboard.keycodes(r.keysym);
}

bool X11HotKeyService::heldByAnother(const Registration& r, quint32 id) const {
    // X grants a client a grab it already holds, so a second registration of
    // one key would be accepted silently: a press would reach only one of
    // them, and ungrabbing either would leave the other without its grab.
    for (auto it = m_registrations.cbegin(); it != m_registrations.cend(); ++it) {
        if (it.key() == id || it->mask != r.mask)
            continue;
        if (it->keysym == r.keysym)
            return true;
        for (xcb_keycode_t code : r.keycodes)
            if (it->keycodes.contains(code))
                return true;
    }
    return false;
}

int X11HotKeyService::grab(Registration& r) {
    QList<xcb_void_cookie_t> cookies;
    for (xcb_keycode_t code : std::as_const(r.keycodes))
        for (quint16 lock : lockVariants())
            cookies.append(xcb_grab_key_checked(m_conn.get(), 1, m_conn.root(),
                                                static_cast<quint16>(r.mask | lock), code,
                                                XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    int status = 0;
    for (const xcb_void_cookie_t& cookie : cookies) {
        const int error = m_conn.check(cookie);
        if (status == 0)
            status = error;
    }
    if (status != 0) {
        // All or nothing: a combination that works only with NumLock off
        // would be a puzzle. Ungrabbing releases only our own grabs.
        ungrab(r);
        m_conn.flush();
        r.keycodes.clear();
    }
    return status;
}

void X11HotKeyService::ungrab(const Registration& r) {
    for (xcb_keycode_t code : r.keycodes)
        for (quint16 lock : lockVariants())
            xcb_ungrab_key(m_conn.get(), code, m_conn.root(), static_cast<quint16>(r.mask | lock));
}

void X11HotKeyService::regrabAll() {
    // The old grabs were made for key codes and modifier bits that may no
    // longer mean the same keys; drop them all before grabbing anew.
    xcb_ungrab_key(m_conn.get(), XCB_GRAB_ANY, m_conn.root(), XCB_MOD_MASK_ANY);
    // Each is checked against those already grabbed again: two keysyms may
    // share a key in the new layout, and then the later one is lost.
    const QHash<quint32, Registration> previous = std::exchange(m_registrations, {});
    QList<std::pair<quint32, int>> lost;
    for (auto it = previous.cbegin(); it != previous.cend(); ++it) {
        Registration r = *it;
        resolve(r);
        const int status = heldByAnother(r, it.key()) ? int{XCB_ACCESS} : grab(r);
        if (status == 0)
            m_registrations.insert(it.key(), r);
        else
            lost.append({it.key(), status});
    }
    m_conn.flush();
    for (const auto& [id, status] : lost)
        if (onLost)
            onLost(id, status);
}

void X11HotKeyService::handleEvent(const xcb_generic_event_t& event) {
    const quint8 type = event.response_type & 0x7f;
    if (type == XCB_KEY_RELEASE) {
        const auto& release = reinterpret_cast<const xcb_key_release_event_t&>(event);
        m_lastReleaseCode = release.detail;
        m_lastReleaseTime = release.time;
        return;
    }
    if (type != XCB_KEY_PRESS)
        return;
    const auto& press = reinterpret_cast<const xcb_key_press_event_t&>(event);
    if (press.detail == m_lastReleaseCode && press.time == m_lastReleaseTime)
        return;
    const quint16 ignored = static_cast<quint16>(XCB_MOD_MASK_LOCK | m_keyboard.numLockMask());
    const quint16 state = static_cast<quint16>(press.state & 0xff & ~ignored);
    for (auto it = m_registrations.cbegin(); it != m_registrations.cend(); ++it) {
        if (it->mask == state && it->keycodes.contains(press.detail)) {
            if (onPressed)
                onPressed(it.key());
            return;
        }
    }
}
