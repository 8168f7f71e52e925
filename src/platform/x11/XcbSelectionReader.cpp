#include "platform/x11/XcbSelectionReader.h"

#include <cstring>

XcbSelectionReader::XcbSelectionReader(Limits limits, QObject* parent)
    : QObject(parent), m_limits(limits) {
    m_stepTimer.setSingleShot(true);
    m_totalTimer.setSingleShot(true);
    connect(&m_stepTimer, &QTimer::timeout, this, [this] { giveUp(Failure::TimedOut); });
    connect(&m_totalTimer, &QTimer::timeout, this, [this] { giveUp(Failure::TimedOut); });
    if (!m_conn.isValid())
        return;
    m_property = m_conn.atom("_TINDREL_SELECTION");
    m_incr = m_conn.atom("INCR");
    createWindow();
    m_conn.addEventHandler(this, [this](const xcb_generic_event_t& event) { handle(event); });
    m_conn.watchEvents();
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
    // Named so that a look at the window tree (or a clipboard owner) can
    // tell whose requests these are.
    static constexpr char name[] = "tindrel selection reader";
    xcb_change_property(m_conn.get(), XCB_PROP_MODE_REPLACE, m_window, XCB_ATOM_WM_NAME,
                        XCB_ATOM_STRING, 8, sizeof name - 1, name);
    m_conn.flush();
}

void XcbSelectionReader::targets(const QByteArray& selection, QObject* context,
                                 std::function<void(std::optional<QStringList>)> done) {
    read(selection, "TARGETS", context, [this, done = std::move(done)](Result data) {
        if (!data) {
            done(std::nullopt);
            return;
        }
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
        done(names);
    });
}

void XcbSelectionReader::read(const QByteArray& selection, const QByteArray& target,
                              QObject* context, std::function<void(Result)> done) {
    m_queue.enqueue({selection, target, context, std::move(done)});
    startNext();
}

void XcbSelectionReader::startNext() {
    if (m_state != State::Idle)
        return;
    while (!m_queue.isEmpty() && !m_queue.head().context)
        m_queue.dequeue(); // nobody waits for these any more
    if (m_queue.isEmpty())
        return;
    m_current = m_queue.dequeue();
    m_state = State::AwaitingNotify;
    m_data.clear();
    if (!isValid()) {
        // Answered on the next turn, as every answer is, never inside read().
        QTimer::singleShot(0, this, [this] { finish(std::unexpected(Failure::TimedOut)); });
        return;
    }
    m_totalTimer.start(m_limits.totalTimeout);
    m_stepTimer.start(m_limits.stepTimeout);
    m_selection = m_conn.atom(m_current.selection);
    const xcb_atom_t target = m_conn.atom(m_current.target);
    xcb_delete_property(m_conn.get(), m_window, m_property);
    xcb_convert_selection(m_conn.get(), m_window, m_selection, target, m_property,
                          XCB_CURRENT_TIME);
    m_conn.flush();
}

void XcbSelectionReader::handle(const xcb_generic_event_t& event) {
    const int type = event.response_type & 0x7f;
    if (m_state == State::AwaitingNotify && type == XCB_SELECTION_NOTIFY) {
        const auto& notify = reinterpret_cast<const xcb_selection_notify_event_t&>(event);
        if (notify.requestor == m_window && notify.selection == m_selection)
            onNotify(notify);
    } else if (m_state == State::AwaitingPiece && type == XCB_PROPERTY_NOTIFY) {
        const auto& notify = reinterpret_cast<const xcb_property_notify_event_t&>(event);
        if (notify.window == m_window && notify.atom == m_property &&
            notify.state == XCB_PROPERTY_NEW_VALUE)
            onPiece();
    }
}

void XcbSelectionReader::onNotify(const xcb_selection_notify_event_t& notify) {
    if (notify.property == XCB_ATOM_NONE) {
        finish(std::unexpected(Failure::Refused)); // no owner, or not to this target
        return;
    }
    // The owner has stored its answer already: reading it is a round trip to
    // the server, not a wait for the owner.
    // One more long word than allowed tells an oversized value from a full one.
    const quint32 words = static_cast<quint32>(m_limits.maxBytes / 4 + 1);
    const auto cookie = xcb_get_property(m_conn.get(), 1, m_window, m_property,
                                         XCB_GET_PROPERTY_TYPE_ANY, 0, words);
    XcbPtr<xcb_get_property_reply_t> reply(xcb_get_property_reply(m_conn.get(), cookie, nullptr));
    if (!reply) {
        finish(std::unexpected(Failure::TimedOut)); // the connection is gone
        return;
    }
    if (reply->type == XCB_ATOM_NONE) {
        finish(std::unexpected(Failure::Refused)); // announced, but nothing was stored
        return;
    }
    if (reply->type == m_incr) {
        // Deleting the property (done by the read above) starts the transfer.
        m_state = State::AwaitingPiece;
        m_stepTimer.start(m_limits.stepTimeout);
        m_conn.flush();
        return;
    }
    const int length = xcb_get_property_value_length(reply.get());
    if (reply->bytes_after > 0 || length > m_limits.maxBytes) {
        xcb_delete_property(m_conn.get(), m_window, m_property);
        m_conn.flush();
        finish(std::unexpected(Failure::TooLarge));
        return;
    }
    finish(QByteArray(static_cast<const char*>(xcb_get_property_value(reply.get())), length));
}

void XcbSelectionReader::onPiece() {
    const quint32 words = static_cast<quint32>((m_limits.maxBytes - m_data.size()) / 4 + 1);
    const auto cookie = xcb_get_property(m_conn.get(), 1, m_window, m_property,
                                         XCB_GET_PROPERTY_TYPE_ANY, 0, words);
    XcbPtr<xcb_get_property_reply_t> reply(xcb_get_property_reply(m_conn.get(), cookie, nullptr));
    if (!reply) {
        giveUp(Failure::TimedOut);
        return;
    }
    const int length = xcb_get_property_value_length(reply.get());
    if (length == 0) {
        finish(std::move(m_data)); // an empty piece ends the transfer
        return;
    }
    if (reply->bytes_after > 0 || m_data.size() + length > m_limits.maxBytes) {
        giveUp(Failure::TooLarge);
        return;
    }
    m_data.append(static_cast<const char*>(xcb_get_property_value(reply.get())), length);
    m_conn.flush(); // the deletion asks for the next piece
    m_stepTimer.start(m_limits.stepTimeout);
}

void XcbSelectionReader::giveUp(Failure failure) {
    if (m_state == State::Idle)
        return;
    // The owner may still answer or send pieces later; not to this window.
    if (isValid())
        createWindow();
    finish(std::unexpected(failure));
}

void XcbSelectionReader::finish(Result result) {
    if (m_state == State::Idle)
        return;
    m_stepTimer.stop();
    m_totalTimer.stop();
    m_state = State::Idle;
    m_data = QByteArray();
    const Request request = std::exchange(m_current, Request{});
    if (request.context)
        request.done(std::move(result));
    startNext();
}
