#include "esp32sim/protocol/SlipDecoder.h"

namespace esp32sim {

namespace {

constexpr char frameEnd = char(0xC0);
constexpr char escape = char(0xDB);
constexpr char escapedEnd = char(0xDC);
constexpr char escapedEscape = char(0xDD);

}  // namespace

QByteArray slipEncode(QByteArrayView payload)
{
    QByteArray out;
    out.reserve(payload.size() + payload.size() / 16 + 2);
    out.append(frameEnd);
    for (const char c : payload) {
        if (c == frameEnd) {
            out.append(escape).append(escapedEnd);
        } else if (c == escape) {
            out.append(escape).append(escapedEscape);
        } else {
            out.append(c);
        }
    }
    out.append(frameEnd);
    return out;
}

SlipDecoder::SlipDecoder(qsizetype maxPayload)
    : m_maxPayload(maxPayload)
{}

void SlipDecoder::reset()
{
    m_state = State::outside;
    m_current.clear();
    m_oversized = false;
    m_wireLength = 0;
}

SlipDecoder::Event SlipDecoder::push(char byte)
{
    // Every delimiter ends the frame before it (if any) and opens the next, so the decoder finds
    // its feet again after noise; bytes before the first delimiter are skipped.
    if (byte == frameEnd) {
        const State state = m_state;
        const bool complete = state == State::inside && (!m_current.isEmpty() || m_oversized);
        const qint64 wireLength = m_wireLength + 1;
        const bool oversized = m_oversized;
        m_state = State::inside;
        m_wireLength = 1;
        if (state == State::escape) {
            m_current.clear();
            m_oversized = false;
            return Event::badEscape;
        }
        if (!complete)
            return Event::none;
        m_done = m_current;
        m_doneWireLength = wireLength;
        m_current.clear();
        m_oversized = false;
        return oversized ? Event::oversized : Event::frame;
    }

    switch (m_state) {
    case State::outside:
    case State::discard:
        return Event::none;
    case State::escape:
        ++m_wireLength;
        if (byte != escapedEnd && byte != escapedEscape) {
            m_current.clear();
            m_oversized = false;
            m_state = State::discard;
            return Event::badEscape;
        }
        m_state = State::inside;
        append(byte == escapedEnd ? frameEnd : escape);
        return Event::none;
    case State::inside:
        ++m_wireLength;
        if (byte == escape)
            m_state = State::escape;
        else
            append(byte);
        return Event::none;
    }
    return Event::none;
}

void SlipDecoder::append(char byte)
{
    if (m_current.size() < m_maxPayload)
        m_current.append(byte);
    else
        m_oversized = true;
}

}  // namespace esp32sim
