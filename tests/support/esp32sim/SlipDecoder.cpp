#include "SlipDecoder.h"

namespace esp32sim {

namespace {

constexpr char kEnd = char(0xC0);
constexpr char kEsc = char(0xDB);
constexpr char kEscEnd = char(0xDC);
constexpr char kEscEsc = char(0xDD);

}  // namespace

QByteArray slipEncode(QByteArrayView payload)
{
    QByteArray out;
    out.reserve(payload.size() + payload.size() / 16 + 2);
    out.append(kEnd);
    for (const char c : payload) {
        if (c == kEnd) {
            out.append(kEsc).append(kEscEnd);
        } else if (c == kEsc) {
            out.append(kEsc).append(kEscEsc);
        } else {
            out.append(c);
        }
    }
    out.append(kEnd);
    return out;
}

SlipDecoder::SlipDecoder(qsizetype maxPayload)
    : m_maxPayload(maxPayload)
{}

void SlipDecoder::reset()
{
    m_state = State::Outside;
    m_current.clear();
    m_oversized = false;
    m_wireLength = 0;
}

SlipDecoder::Event SlipDecoder::push(char byte)
{
    switch (m_state) {
    case State::Outside:
        if (byte == kEnd) {
            m_state = State::Inside;
            m_wireLength = 1;
        }
        return Event::None;

    case State::Discard:
        if (byte == kEnd) {
            // Could be the spoiled frame's end or the next frame's start; an empty frame that
            // follows is skipped anyway, so treating it as a start loses nothing.
            m_state = State::Inside;
            m_wireLength = 1;
        }
        return Event::None;

    case State::Escape: {
        ++m_wireLength;
        char decoded = 0;
        if (byte == kEscEnd) {
            decoded = kEnd;
        } else if (byte == kEscEsc) {
            decoded = kEsc;
        } else {
            m_current.clear();
            m_oversized = false;
            // The byte that broke the escape may itself be a delimiter.
            m_state = byte == kEnd ? State::Inside : State::Discard;
            m_wireLength = byte == kEnd ? 1 : 0;
            return Event::BadEscape;
        }
        m_state = State::Inside;
        if (m_current.size() < m_maxPayload)
            m_current.append(decoded);
        else
            m_oversized = true;
        return Event::None;
    }

    case State::Inside:
        ++m_wireLength;
        if (byte == kEnd) {
            if (m_current.isEmpty() && !m_oversized) {
                // Back-to-back delimiters: this one opens the next frame.
                m_wireLength = 1;
                return Event::None;
            }
            m_done = m_current;
            m_doneWireLength = m_wireLength;
            const bool oversized = m_oversized;
            m_current.clear();
            m_oversized = false;
            m_state = State::Outside;
            m_wireLength = 0;
            return oversized ? Event::Oversized : Event::Frame;
        }
        if (byte == kEsc) {
            m_state = State::Escape;
            return Event::None;
        }
        if (m_current.size() < m_maxPayload)
            m_current.append(byte);
        else
            m_oversized = true;
        return Event::None;
    }
    return Event::None;
}

}  // namespace esp32sim
