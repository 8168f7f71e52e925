#pragma once

#include "platform/Pasteboard.h"
#include "platform/x11/XcbConnection.h"

#include <QByteArray>
#include <QStringList>
#include <chrono>
#include <expected>
#include <optional>

// Reads a selection's contents from its owner, including large ones sent in
// pieces (INCR), bounded in size and time: an owner that stalls or sends
// without end costs at most the time-outs and never more than maxBytes.
// It blocks the calling thread while it waits; it has its own connection,
// so it never waits on our own Qt event loop.
class XcbSelectionReader {
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

    explicit XcbSelectionReader(Limits limits);
    XcbSelectionReader() : XcbSelectionReader(Limits{}) {}
    ~XcbSelectionReader();
    XcbSelectionReader(const XcbSelectionReader&) = delete;
    XcbSelectionReader& operator=(const XcbSelectionReader&) = delete;

    bool isValid() const;
    // The atom names the owner lists for TARGETS; none when it does not answer.
    std::optional<QStringList> targets(const QByteArray& selection);
    // The selection converted to the target, or why there is none.
    std::expected<QByteArray, Failure> read(const QByteArray& selection, const QByteArray& target);

private:
    using Clock = std::chrono::steady_clock;
    std::expected<QByteArray, Failure> readIncrementally(Clock::time_point deadline);
    XcbPtr<xcb_generic_event_t>
    waitFor(const std::function<bool(const xcb_generic_event_t&)>& match,
            Clock::time_point deadline);
    void createWindow();

    Limits m_limits;
    XcbConnection m_conn;
    xcb_window_t m_window = XCB_NONE;
    xcb_atom_t m_property = XCB_ATOM_NONE;
};
