#include "FakeSerialLink.h"

#include <QThread>

using namespace Qt::StringLiterals;

FakeSerialLink::FakeSerialLink(bool hasModemLines)
    : m_hasModemLines(hasModemLines)
{}

QList<FakeSerialLink::Event> FakeSerialLink::events(Event::Kind kind) const
{
    QList<Event> matching;
    for (const Event& event : m_events) {
        if (event.kind == kind)
            matching.append(event);
    }
    return matching;
}

QString FakeSerialLink::portName() const
{
    return u"/dev/fake0"_s;
}

esptool::FlasherError FakeSerialLink::lost() const
{
    return esptool::FlasherError{esptool::ErrorKind::linkLost, u"fake link dropped"_s, {}};
}

esptool::Status FakeSerialLink::write(QByteArrayView bytes)
{
    if (m_dropped)
        return lost();
    if (m_writesUntilDrop == 0) {
        m_dropped = true;
        return lost();
    }
    if (m_writesUntilDrop > 0)
        --m_writesUntilDrop;
    const QByteArray written = bytes.toByteArray();
    m_events.append(Event{Event::Kind::write, m_nowMs, 0, written});
    if (m_responder)
        m_incoming.append(m_responder(written));
    return {};
}

esptool::Result<QByteArray> FakeSerialLink::read(QDeadlineTimer deadline)
{
    if (m_dropped)
        return lost();
    if (m_incoming.isEmpty()) {
        // Nothing will come: let the real deadline pass, as a silent port would.
        QThread::msleep(static_cast<unsigned long>(std::max<qint64>(deadline.remainingTime(), 0)));
        return QByteArray();
    }
    // Hand the bytes out in small pieces, as a UART would, so frames arrive split.
    constexpr qsizetype piece = 7;
    const QByteArray chunk = m_incoming.left(piece);
    m_incoming.remove(0, chunk.size());
    return chunk;
}

void FakeSerialLink::discardInput()
{
    m_incoming.clear();
    m_events.append(Event{Event::Kind::discard, m_nowMs, 0, {}});
}

esptool::Status FakeSerialLink::setBaudRate(int baud)
{
    m_events.append(Event{Event::Kind::baud, m_nowMs, baud, {}});
    return {};
}

bool FakeSerialLink::setDataTerminalReady(bool asserted)
{
    if (!m_hasModemLines)
        return false;
    m_events.append(Event{Event::Kind::dtr, m_nowMs, asserted ? 1 : 0, {}});
    return true;
}

bool FakeSerialLink::setRequestToSend(bool asserted)
{
    if (!m_hasModemLines)
        return false;
    m_events.append(Event{Event::Kind::rts, m_nowMs, asserted ? 1 : 0, {}});
    return true;
}

bool FakeSerialLink::setModemLines(bool dtrAsserted, bool rtsAsserted)
{
    return setDataTerminalReady(dtrAsserted) && setRequestToSend(rtsAsserted);
}

void FakeSerialLink::pause(std::chrono::milliseconds duration)
{
    m_nowMs += duration.count();
}
