#include "FrameWatch.h"

#include <algorithm>

namespace {

constexpr unsigned kOpContinue = 0x0;
constexpr unsigned kOpText = 0x1;
constexpr unsigned kOpBinary = 0x2;
constexpr unsigned kOpPing = 0x9;
constexpr unsigned kOpClose = 0x8;
constexpr unsigned kOpPong = 0xA;
constexpr qint64 kMaxControlPayload = 125;

// Header length once its second byte is known.
int headerLength(unsigned char second) {
    const unsigned length = second & 0x7F;
    const int extended = length == 126 ? 2 : length == 127 ? 8 : 0;
    return 2 + extended + ((second & 0x80) ? 4 : 0);
}

} // namespace

qint64 FrameWatch::skippable(qint64 size) const {
    return std::min(m_payloadLeft, size);
}

void FrameWatch::skip(qint64 size) {
    const qint64 take = std::min(m_payloadLeft, size);
    m_payloadLeft -= take;
    if (!m_inControl)
        m_frameReceived += take;
    if (m_payloadLeft == 0 && take > 0) {
        if (m_inControl) {
            m_inControl = false;
            return;
        }
        m_fragmentsDone += m_frameReceived;
        m_frameReceived = 0;
        if (m_finalFrame) {
            m_fragmentsDone = 0;
            m_inMessage = false;
        }
    }
}

FrameWatch::Verdict FrameWatch::feed(const char* data, qint64 size) {
    while (size > 0) {
        if (m_payloadLeft > 0) {
            const qint64 take = skippable(size);
            skip(take);
            data += take;
            size -= take;
            continue;
        }
        m_header[static_cast<size_t>(m_headerHave++)] = static_cast<unsigned char>(*data++);
        --size;
        if (m_headerHave == 2 && !(m_header[1] & 0x80))
            return Verdict::Unmasked;
        if (m_headerHave >= 2 && m_headerHave == headerLength(m_header[1])) {
            if (const Verdict verdict = headerDone(); verdict != Verdict::Fine)
                return verdict;
        }
    }
    return Verdict::Fine;
}

FrameWatch::Verdict FrameWatch::headerDone() {
    const unsigned first = m_header[0];
    const unsigned second = m_header[1];
    m_headerHave = 0;
    const bool final = first & 0x80;
    const unsigned opcode = first & 0x0F;
    if (first & 0x70)
        return Verdict::Broken; // no extension is negotiated
    quint64 length = second & 0x7F;
    if (length == 126) {
        length = (quint64(m_header[2]) << 8) | m_header[3];
    } else if (length == 127) {
        length = 0;
        for (int i = 2; i < 10; ++i)
            length = (length << 8) | m_header[static_cast<size_t>(i)];
        if (length >> 63)
            return Verdict::Broken;
    }

    if (opcode & 0x8) {
        if (!(opcode == kOpClose || opcode == kOpPing || opcode == kOpPong) || !final ||
            length > quint64(kMaxControlPayload))
            return Verdict::Broken;
        m_inControl = true;
        m_payloadLeft = static_cast<qint64>(length);
        if (length == 0)
            m_inControl = false;
        return Verdict::Fine;
    }

    if (opcode == kOpContinue) {
        if (!m_inMessage)
            return Verdict::Broken;
    } else if (opcode == kOpText || opcode == kOpBinary) {
        if (m_inMessage)
            return Verdict::Broken;
        m_inMessage = true;
        m_messageText = opcode == kOpText;
        m_fragmentsDone = 0;
    } else {
        return Verdict::Broken;
    }
    if (length > quint64(m_maxMessage - m_fragmentsDone))
        return Verdict::TooLarge;
    m_finalFrame = final;
    m_frameReceived = 0;
    m_payloadLeft = static_cast<qint64>(length);
    if (length == 0 && final) {
        m_fragmentsDone = 0;
        m_inMessage = false;
    }
    return Verdict::Fine;
}

qint64 FrameWatch::heldBytes() const {
    if (!m_inMessage)
        return 0;
    if (m_messageText)
        return 3 * (m_fragmentsDone + m_frameReceived);
    return 2 * m_fragmentsDone + m_frameReceived;
}
