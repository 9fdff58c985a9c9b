#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>

namespace esp32sim {

// SLIP framing as the ROM loader uses it: every frame opens and closes with 0xC0; inside,
// 0xC0 travels as DB DC and 0xDB as DB DD.
QByteArray slipEncode(QByteArrayView payload);

// Strict, byte-at-a-time SLIP decoder. Noise must not wedge the loader, so every 0xC0 ends the
// frame before it and opens the next one; empty frames are skipped, and the caller judges what
// a frame holds. An escape followed by anything other than DC/DD spoils the whole frame, and
// so does a frame longer than the receive buffer.
class SlipDecoder
{
public:
    explicit SlipDecoder(qsizetype maxPayload);

    enum class Event
    {
        none,       // the byte was consumed, nothing complete yet
        frame,      // a frame ended: payload() holds it
        badEscape,  // a frame was dropped for an invalid escape
        oversized,  // a frame longer than maxPayload ended; payload() holds its first bytes
    };

    Event push(char byte);

    // The last completed frame (valid after Frame or Oversized).
    const QByteArray& payload() const { return m_done; }
    // Wire bytes of the last completed frame, both delimiters and escapes included.
    qint64 wireLength() const { return m_doneWireLength; }

    void reset();

private:
    enum class State
    {
        outside,  // before the first delimiter
        inside,
        escape,
        discard,  // after a bad escape, up to the next delimiter
    };

    void append(char byte);

    qsizetype m_maxPayload;
    State m_state = State::outside;
    QByteArray m_current;
    bool m_oversized = false;
    qint64 m_wireLength = 0;
    QByteArray m_done;
    qint64 m_doneWireLength = 0;
};

}  // namespace esp32sim
