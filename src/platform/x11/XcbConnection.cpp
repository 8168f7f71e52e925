#include "platform/x11/XcbConnection.h"

#include <QAbstractEventDispatcher>
#include <QSocketNotifier>
#include <QThread>

XcbConnection::XcbConnection(QObject* parent) : QObject(parent) {
    int screenNumber = 0;
    m_conn = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(m_conn))
        return;
    const xcb_setup_t* setup = xcb_get_setup(m_conn);
    m_resourceBase = setup->resource_id_base;
    m_resourceMask = setup->resource_id_mask;
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(setup);
    for (int i = 0; i < screenNumber && it.rem > 0; ++i)
        xcb_screen_next(&it);
    if (it.rem > 0) {
        m_root = it.data->root;
        m_rootVisual = it.data->root_visual;
    }
}

XcbConnection::~XcbConnection() {
    if (m_conn)
        xcb_disconnect(m_conn);
}

bool XcbConnection::isValid() const {
    return m_conn && !xcb_connection_has_error(m_conn) && m_root != XCB_NONE;
}

xcb_atom_t XcbConnection::atom(const QByteArray& name) {
    const auto found = m_atoms.constFind(name);
    if (found != m_atoms.constEnd())
        return *found;
    if (!isValid())
        return XCB_ATOM_NONE;
    const auto cookie = xcb_intern_atom(m_conn, 0, static_cast<quint16>(name.size()), name.data());
    XcbPtr<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(m_conn, cookie, nullptr));
    if (!reply)
        return XCB_ATOM_NONE;
    m_atoms.insert(name, reply->atom);
    m_atomNames.insert(reply->atom, QString::fromUtf8(name));
    return reply->atom;
}

QString XcbConnection::atomName(xcb_atom_t atom) {
    return atomNames({atom}).value(0);
}

QStringList XcbConnection::atomNames(const QList<xcb_atom_t>& atoms) {
    // Ask for every unknown name first, then collect: one round trip in all.
    QList<xcb_get_atom_name_cookie_t> cookies;
    QList<xcb_atom_t> asked;
    for (xcb_atom_t a : atoms) {
        if (a != XCB_ATOM_NONE && !m_atomNames.contains(a) && !asked.contains(a) && isValid()) {
            cookies.append(xcb_get_atom_name(m_conn, a));
            asked.append(a);
        }
    }
    for (qsizetype i = 0; i < cookies.size(); ++i) {
        XcbPtr<xcb_get_atom_name_reply_t> reply(
            xcb_get_atom_name_reply(m_conn, cookies[i], nullptr));
        if (!reply)
            continue;
        const QString name = QString::fromUtf8(xcb_get_atom_name_name(reply.get()),
                                               xcb_get_atom_name_name_length(reply.get()));
        m_atomNames.insert(asked[i], name);
        m_atoms.insert(name.toUtf8(), asked[i]);
    }
    QStringList names;
    for (xcb_atom_t a : atoms)
        names.append(m_atomNames.value(a));
    return names;
}

std::optional<XcbProperty> XcbConnection::property(xcb_window_t window, xcb_atom_t name,
                                                   quint32 maxBytes) {
    if (!isValid() || window == XCB_NONE || name == XCB_ATOM_NONE)
        return std::nullopt;
    const auto cookie =
        xcb_get_property(m_conn, 0, window, name, XCB_GET_PROPERTY_TYPE_ANY, 0, (maxBytes + 3) / 4);
    XcbPtr<xcb_get_property_reply_t> reply(xcb_get_property_reply(m_conn, cookie, nullptr));
    if (!reply || reply->type == XCB_ATOM_NONE)
        return std::nullopt;
    XcbProperty result;
    result.type = reply->type;
    result.format = reply->format;
    result.value = QByteArray(static_cast<const char*>(xcb_get_property_value(reply.get())),
                              xcb_get_property_value_length(reply.get()));
    return result;
}

bool XcbConnection::ownsResource(quint32 xid) const {
    return m_resourceMask != 0 && (xid & ~m_resourceMask) == m_resourceBase;
}

int XcbConnection::check(xcb_void_cookie_t cookie) {
    XcbPtr<xcb_generic_error_t> error(xcb_request_check(m_conn, cookie));
    return error ? error->error_code : 0;
}

void XcbConnection::flush() {
    if (m_conn)
        xcb_flush(m_conn);
}

void XcbConnection::watchEvents() {
    if (m_notifier || !isValid())
        return;
    m_notifier = new QSocketNotifier(xcb_get_file_descriptor(m_conn), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &XcbConnection::readEvents);
    // A round trip may have pulled events off the socket already; they wait
    // in xcb's queue where the socket notifier cannot see them.
    if (auto* dispatcher = QAbstractEventDispatcher::instance(thread()))
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this,
                &XcbConnection::readQueuedEvents);
}

void XcbConnection::addEventHandler(QObject* context, EventHandler handler) {
    m_handlers.append({context, std::move(handler)});
    connect(context, &QObject::destroyed, this, [this, context] {
        m_handlers.removeIf([context](const Handler& h) { return h.context == context; });
    });
}

void XcbConnection::dispatch(XcbPtr<xcb_generic_event_t> event) {
    // Copy: a handler may add or remove handlers.
    const QList<Handler> handlers = m_handlers;
    for (const Handler& h : handlers)
        h.handler(*event);
}

void XcbConnection::readEvents() {
    while (auto* event = xcb_poll_for_event(m_conn))
        dispatch(XcbPtr<xcb_generic_event_t>(event));
    if (xcb_connection_has_error(m_conn) && m_notifier)
        m_notifier->setEnabled(false); // the server is gone; nothing more will come
}

void XcbConnection::readQueuedEvents() {
    if (!isValid())
        return;
    while (auto* event = xcb_poll_for_queued_event(m_conn))
        dispatch(XcbPtr<xcb_generic_event_t>(event));
}
