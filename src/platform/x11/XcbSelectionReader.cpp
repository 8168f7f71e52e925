#include "platform/x11/XcbSelectionReader.h"

#include <algorithm>
#include <cstring>
#include <poll.h>

XcbSelectionReader::XcbSelectionReader(Limits limits) : m_limits(limits) {
    if (!m_conn.isValid())
        return;
    m_property = m_conn.atom("_TINDREL_SELECTION");
    createWindow();
}

XcbSelectionReader::~XcbSelectionReader() {
    if (m_window != XCB_NONE && m_conn.isValid()) {
        xcb_destroy_window(m_conn.get(), m_window);
        m_conn.flush();
    }
}

bool XcbSelectionReader::isValid() const {
    return m_conn.isValid() && m_window != XCB_NONE;
}

void XcbSelectionReader::createWindow() {
    // A transfer given up half-way may still send pieces to the old window;
    // a fresh window keeps them out of the next read.
    if (m_window != XCB_NONE)
        xcb_destroy_window(m_conn.get(), m_window);
    m_window = xcb_generate_id(m_conn.get());
    const quint32 events = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(m_conn.get(), XCB_COPY_FROM_PARENT, m_window, m_conn.root(), -10, -10, 1, 1,
                      0, XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK,
                      &events);
    m_conn.flush();
}

std::optional<QStringList> XcbSelectionReader::targets(const QByteArray& selection) {
    const auto data = read(selection, "TARGETS");
    if (!data)
        return std::nullopt;
    QList<xcb_atom_t> atoms;
    const qsizetype count = data->size() / qsizetype{sizeof(quint32)};
    for (qsizetype i = 0; i < count; ++i) {
        quint32 atom = 0;
        std::memcpy(&atom, data->constData() + i * qsizetype{sizeof(quint32)}, sizeof atom);
        if (atom != XCB_ATOM_NONE)
            atoms.append(atom);
    }
    QStringList names = m_conn.atomNames(atoms);
    names.removeAll(QString());
    names.removeDuplicates();
    return names;
}

std::expected<QByteArray, XcbSelectionReader::Failure>
XcbSelectionReader::read(const QByteArray& selection, const QByteArray& target) {
    if (!isValid())
        return std::unexpected(Failure::TimedOut);
    const auto deadline = Clock::now() + m_limits.totalTimeout;
    const xcb_atom_t selectionAtom = m_conn.atom(selection);
    const xcb_atom_t targetAtom = m_conn.atom(target);
    xcb_delete_property(m_conn.get(), m_window, m_property);
    xcb_convert_selection(m_conn.get(), m_window, selectionAtom, targetAtom, m_property,
                          XCB_CURRENT_TIME);
    m_conn.flush();

    const xcb_window_t window = m_window;
    auto notify = waitFor(
        [window, selectionAtom](const xcb_generic_event_t& e) {
            if ((e.response_type & 0x7f) != XCB_SELECTION_NOTIFY)
                return false;
            const auto& n = reinterpret_cast<const xcb_selection_notify_event_t&>(e);
            return n.requestor == window && n.selection == selectionAtom;
        },
        deadline);
    if (!notify) {
        createWindow(); // the owner may still answer later; not to this window
        return std::unexpected(Failure::TimedOut);
    }
    if (reinterpret_cast<const xcb_selection_notify_event_t*>(notify.get())->property ==
        XCB_ATOM_NONE)
        return std::unexpected(Failure::Refused); // no owner, or not to this target

    // One more long word than allowed tells an oversized value from a full one.
    const quint32 words = static_cast<quint32>(m_limits.maxBytes / 4 + 1);
    const auto cookie = xcb_get_property(m_conn.get(), 1, m_window, m_property,
                                         XCB_GET_PROPERTY_TYPE_ANY, 0, words);
    XcbPtr<xcb_get_property_reply_t> reply(xcb_get_property_reply(m_conn.get(), cookie, nullptr));
    if (!reply)
        return std::unexpected(Failure::TimedOut); // the connection is gone
    if (reply->type == XCB_ATOM_NONE)
        return std::unexpected(Failure::Refused); // announced, but nothing was stored
    if (reply->type == m_conn.atom("INCR")) {
        // Deleting the property (done by the read above) starts the transfer.
        m_conn.flush();
        return readIncrementally(deadline);
    }
    const int length = xcb_get_property_value_length(reply.get());
    if (reply->bytes_after > 0 || length > m_limits.maxBytes) {
        xcb_delete_property(m_conn.get(), m_window, m_property);
        m_conn.flush();
        return std::unexpected(Failure::TooLarge);
    }
    return QByteArray(static_cast<const char*>(xcb_get_property_value(reply.get())), length);
}

std::expected<QByteArray, XcbSelectionReader::Failure>
XcbSelectionReader::readIncrementally(Clock::time_point deadline) {
    QByteArray data;
    Failure failure = Failure::TimedOut;
    const xcb_window_t window = m_window;
    const xcb_atom_t property = m_property;
    for (;;) {
        auto event = waitFor(
            [window, property](const xcb_generic_event_t& e) {
                if ((e.response_type & 0x7f) != XCB_PROPERTY_NOTIFY)
                    return false;
                const auto& n = reinterpret_cast<const xcb_property_notify_event_t&>(e);
                return n.window == window && n.atom == property &&
                       n.state == XCB_PROPERTY_NEW_VALUE;
            },
            deadline);
        if (!event)
            break;
        const quint32 words = static_cast<quint32>((m_limits.maxBytes - data.size()) / 4 + 1);
        const auto cookie = xcb_get_property(m_conn.get(), 1, m_window, m_property,
                                             XCB_GET_PROPERTY_TYPE_ANY, 0, words);
        XcbPtr<xcb_get_property_reply_t> reply(
            xcb_get_property_reply(m_conn.get(), cookie, nullptr));
        if (!reply)
            break;
        const int length = xcb_get_property_value_length(reply.get());
        if (length == 0)
            return data; // an empty piece ends the transfer
        if (reply->bytes_after > 0 || data.size() + length > m_limits.maxBytes) {
            failure = Failure::TooLarge;
            break;
        }
        data.append(static_cast<const char*>(xcb_get_property_value(reply.get())), length);
        m_conn.flush();
    }
    // Given up: stop listening on this window so the owner's further pieces go nowhere.
    createWindow();
    return std::unexpected(failure);
}

XcbPtr<xcb_generic_event_t>
XcbSelectionReader::waitFor(const std::function<bool(const xcb_generic_event_t&)>& match,
                            Clock::time_point deadline) {
    const auto stepDeadline = std::min(deadline, Clock::now() + m_limits.stepTimeout);
    const int fd = xcb_get_file_descriptor(m_conn.get());
    for (;;) {
        while (auto* raw = xcb_poll_for_event(m_conn.get())) {
            XcbPtr<xcb_generic_event_t> event(raw);
            if (match(*event))
                return event;
        }
        if (xcb_connection_has_error(m_conn.get()))
            return nullptr;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(stepDeadline - Clock::now());
        if (left.count() <= 0)
            return nullptr;
        pollfd pfd{fd, POLLIN, 0};
        ::poll(&pfd, 1, static_cast<int>(left.count()) + 1);
    }
}
