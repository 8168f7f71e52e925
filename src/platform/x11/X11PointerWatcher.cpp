#include "platform/x11/X11PointerWatcher.h"

#include "platform/x11/XcbConnection.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <xcb/xinput.h>

namespace {
// Buttons 4 to 7 are the wheel's turns, up, down, left and right.
bool isWheel(quint32 button) {
    return button >= 4 && button <= 7;
}

// The root window's pixels in Qt's global coordinates, which Qt scales by
// each screen's device pixel ratio around the screen's top-left corner.
QPoint toQtCoordinates(QPoint native) {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return native;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const qreal ratio = screen->devicePixelRatio();
        const QRect logical = screen->geometry();
        const QRect pixels(logical.topLeft(), logical.size() * ratio);
        if (pixels.contains(native))
            return logical.topLeft() + (native - logical.topLeft()) / ratio;
    }
    return native;
}
} // namespace

X11PointerWatcher::X11PointerWatcher(XcbConnection& connection, QObject* parent)
    : QObject(parent), m_conn(connection) {
    if (!m_conn.isValid())
        return;
    const xcb_query_extension_reply_t* ext = xcb_get_extension_data(m_conn.get(), &xcb_input_id);
    if (!ext || !ext->present)
        return;
    // XInput 2 requests need the version announced first; from 2.1 on, raw
    // events reach the root window also during other clients' grabs.
    XcbPtr<xcb_input_xi_query_version_reply_t> version(xcb_input_xi_query_version_reply(
        m_conn.get(), xcb_input_xi_query_version(m_conn.get(), 2, 2), nullptr));
    if (!version || version->major_version < 2)
        return;
    m_opcode = ext->major_opcode;
    m_conn.addEventHandler(this, [this](const xcb_generic_event_t& e) { handleEvent(e); });
    m_conn.watchEvents();
}

X11PointerWatcher::~X11PointerWatcher() {
    stop();
}

void X11PointerWatcher::start() {
    if (m_watching || !isAvailable())
        return;
    m_watching = true;
    select(XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS);
}

void X11PointerWatcher::stop() {
    if (!m_watching)
        return;
    m_watching = false;
    select(0);
}

void X11PointerWatcher::select(quint32 mask) {
    struct {
        xcb_input_event_mask_t head;
        quint32 bits;
    } selection{{XCB_INPUT_DEVICE_ALL_MASTER, 1}, mask};
    xcb_input_xi_select_events(m_conn.get(), m_conn.root(), 1, &selection.head);
    m_conn.flush();
}

void X11PointerWatcher::handleEvent(const xcb_generic_event_t& event) {
    if ((event.response_type & 0x7f) != XCB_GE_GENERIC || !m_watching)
        return;
    const auto& generic = reinterpret_cast<const xcb_ge_generic_event_t&>(event);
    if (generic.extension != m_opcode || generic.event_type != XCB_INPUT_RAW_BUTTON_PRESS)
        return;
    const auto& raw = reinterpret_cast<const xcb_input_raw_button_press_event_t&>(event);
    if (isWheel(raw.detail))
        return;
    XcbPtr<xcb_query_pointer_reply_t> pointer(xcb_query_pointer_reply(
        m_conn.get(), xcb_query_pointer(m_conn.get(), m_conn.root()), nullptr));
    if (!pointer || !onPress)
        return;
    onPress({toQtCoordinates(QPoint(pointer->root_x, pointer->root_y)), raw.time});
}
