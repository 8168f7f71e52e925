#include "platform/x11/X11WindowHints.h"

#include "platform/x11/X11Compositing.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QList>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <xcb/xcb.h>

namespace {
struct Free {
    void operator()(void* p) const { std::free(p); }
};

xcb_atom_t atom(xcb_connection_t* connection, const QByteArray& name) {
    std::unique_ptr<xcb_intern_atom_reply_t, Free> reply(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, static_cast<quint16>(name.size()), name.data()),
        nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}
} // namespace

bool X11WindowHints::isCompositing() const {
    return X11Compositing::isActive();
}

void X11WindowHints::keepOutOfTaskbar(quintptr window) {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection || !window)
        return;
    const auto id = static_cast<xcb_window_t>(window);
    const xcb_atom_t state = atom(connection, "_NET_WM_STATE");
    QList<xcb_atom_t> atoms;
    std::unique_ptr<xcb_get_property_reply_t, Free> current(xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, id, state, XCB_ATOM_ATOM, 0, 64), nullptr));
    if (current && current->format == 32 && current->type == XCB_ATOM_ATOM) {
        const auto* values = static_cast<const xcb_atom_t*>(xcb_get_property_value(current.get()));
        const int count = xcb_get_property_value_length(current.get()) / 4;
        for (int i = 0; i < count; ++i)
            atoms.append(values[i]);
    }
    for (const QByteArray& name :
         {QByteArray("_NET_WM_STATE_SKIP_TASKBAR"), QByteArray("_NET_WM_STATE_SKIP_PAGER")}) {
        const xcb_atom_t wanted = atom(connection, name);
        if (wanted != XCB_ATOM_NONE && !atoms.contains(wanted))
            atoms.append(wanted);
    }
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, state, XCB_ATOM_ATOM, 32,
                        static_cast<quint32>(atoms.size()), atoms.constData());
    xcb_flush(connection);
}
