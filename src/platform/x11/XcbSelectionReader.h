#pragma once

#include "platform/Pasteboard.h"
#include "platform/x11/XcbConnection.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QQueue>
#include <QStringList>
#include <QTimer>
#include <chrono>
#include <expected>
#include <functional>
#include <optional>

// Reads a selection's contents from its owner, including large ones sent in
// pieces (INCR), bounded in size and time: an owner that stalls or sends
// without end costs at most the time-outs and never more than maxBytes.
// Nothing here waits for the owner: the reader follows the transfer through
// the events of a connection of its own, so the thread it lives on keeps
// running its event loop while an owner takes its time. Reads run one after
// the other in the order they were asked for.
class XcbSelectionReader final : public QObject {
    Q_OBJECT
public:
    struct Limits {
        qsizetype maxBytes = Pasteboard::maxTextBytes;
        // The owner must answer each step (the conversion, every piece) within this.
        std::chrono::milliseconds stepTimeout{1000};
        // And deliver everything within this.
        std::chrono::milliseconds totalTimeout{3000};
    };

    // Why a read gave nothing.
    enum class Failure {
        Refused,  // no owner, or it cannot convert to the target
        TooLarge, // more than maxBytes
        TimedOut, // no answer within the time-outs, or the connection is gone
    };
    using Result = std::expected<QByteArray, Failure>;

    explicit XcbSelectionReader(Limits limits, QObject* parent = nullptr);
    XcbSelectionReader() : XcbSelectionReader(Limits{}) {}
    ~XcbSelectionReader() override;

    bool isValid() const;
    // Asks the owner for the selection converted to the target. `done` runs
    // later on this object's thread, never inside this call, and not at all
    // once `context` is gone.
    void read(const QByteArray& selection, const QByteArray& target, QObject* context,
              std::function<void(Result)> done);
    // The atom names the owner lists for TARGETS; none when it does not answer.
    void targets(const QByteArray& selection, QObject* context,
                 std::function<void(std::optional<QStringList>)> done);
    // Whether a read is under way or waiting for its turn.
    bool isBusy() const { return m_state != State::Idle || !m_queue.isEmpty(); }

private:
    struct Request {
        QByteArray selection;
        QByteArray target;
        QPointer<QObject> context;
        std::function<void(Result)> done;
    };
    enum class State { Idle, AwaitingNotify, AwaitingPiece };

    void startNext();
    void handle(const xcb_generic_event_t& event);
    void onNotify(const xcb_selection_notify_event_t& notify);
    void onPiece();
    void giveUp(Failure failure);
    void finish(Result result);
    void createWindow();

    Limits m_limits;
    XcbConnection m_conn;
    xcb_window_t m_window = XCB_NONE;
    xcb_atom_t m_property = XCB_ATOM_NONE;
    xcb_atom_t m_incr = XCB_ATOM_NONE;

    QQueue<Request> m_queue;
    Request m_current;
    State m_state = State::Idle;
    xcb_atom_t m_selection = XCB_ATOM_NONE;
    QByteArray m_data;
    QTimer m_stepTimer;
    QTimer m_totalTimer;
};
