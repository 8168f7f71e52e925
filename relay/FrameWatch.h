#pragma once

#include <QtGlobal>
#include <array>

// Follows the frame headers a client sends, a step ahead of Qt's WebSocket
// reader, which accepts unmasked client frames, reads a too-large frame's
// header only to cut the connection, and keeps no count we could read of a
// message it is still collecting. The watch sees every byte once, in order,
// and never holds more than a frame header of its own.
class FrameWatch {
public:
    enum class Verdict {
        Fine,
        Unmasked, // a client frame without a mask (RFC 6455 5.1)
        TooLarge, // the message being received outgrows the limit
        Broken,   // a header no reader could make sense of
    };

    explicit FrameWatch(qint64 maxMessageBytes = 0) : m_maxMessage(maxMessageBytes) {}

    // The next `size` bytes of the stream.
    Verdict feed(const char* data, qint64 size);
    // Of `size` new bytes, how many can be passed over without looking at
    // them: they belong to the payload of a frame already announced.
    qint64 skippable(qint64 size) const;
    void skip(qint64 size);

    // Memory the receiving side holds for the message still arriving: what
    // has come of it so far, counted twice where it is being assembled from
    // fragments (the buffer grows by doubling) and three times for text
    // (decoded to UTF-16 as it comes).
    qint64 heldBytes() const;

private:
    Verdict headerDone();

    qint64 m_maxMessage;
    std::array<unsigned char, 14> m_header{};
    int m_headerHave = 0;
    qint64 m_payloadLeft = 0; // of the frame being read
    bool m_inControl = false; // the frame being read is a control frame
    bool m_finalFrame = false;
    bool m_messageText = false;
    bool m_inMessage = false;   // a data message is open
    qint64 m_fragmentsDone = 0; // payload of its completed fragments
    qint64 m_frameReceived = 0; // payload of the current data frame so far
};
