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
    // Every delimiter ends the frame before it (if any) and opens the next, so the decoder finds
    // its feet again after noise; bytes before the first delimiter are skipped.
    if (byte == kEnd) {
        const State state = m_state;
        const bool complete = state == State::Inside && (!m_current.isEmpty() || m_oversized);
        const qint64 wireLength = m_wireLength + 1;
        const bool oversized = m_oversized;
        m_state = State::Inside;
        m_wireLength = 1;
        if (state == State::Escape) {
            m_current.clear();
            m_oversized = false;
            return Event::BadEscape;
        }
        if (!complete)
            return Event::None;
        m_done = m_current;
        m_doneWireLength = wireLength;
        m_current.clear();
        m_oversized = false;
        return oversized ? Event::Oversized : Event::Frame;
    }

    switch (m_state) {
    case State::Outside:
    case State::Discard:
        return Event::None;
    case State::Escape:
        ++m_wireLength;
        if (byte != kEscEnd && byte != kEscEsc) {
            m_current.clear();
            m_oversized = false;
            m_state = State::Discard;
            return Event::BadEscape;
        }
        m_state = State::Inside;
        append(byte == kEscEnd ? kEnd : kEsc);
        return Event::None;
    case State::Inside:
        ++m_wireLength;
        if (byte == kEsc)
            m_state = State::Escape;
        else
            append(byte);
        return Event::None;
    }
    return Event::None;
}

void SlipDecoder::append(char byte)
{
    if (m_current.size() < m_maxPayload)
        m_current.append(byte);
    else
        m_oversized = true;
}

}  // namespace esp32sim
