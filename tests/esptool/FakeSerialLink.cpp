#include "FakeSerialLink.h"

#include <QThread>

using namespace Qt::StringLiterals;

namespace {

esptool::FlasherError lost()
{
    return esptool::FlasherError{esptool::ErrorKind::linkLost, u"fake link dropped"_s, {}};
}

}  // namespace

FakeSerialLink::FakeSerialLink(bool hasModemLines, Responder responder)
    : m_hasModemLines(hasModemLines)
    , m_responder(std::move(responder))
{}

QString FakeSerialLink::portName() const
{
    return u"/dev/fake0"_s;
}

esptool::Status FakeSerialLink::write(QByteArrayView bytes)
{
    if (m_dropped)
        return lost();
    m_writes.append(bytes.toByteArray());
    if (m_responder)
        m_incoming.append(m_responder(m_writes.last()));
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
    // Small pieces, as a UART hands them out, so that frames arrive split.
    constexpr qsizetype piece = 7;
    const QByteArray chunk = m_incoming.left(piece);
    m_incoming.remove(0, chunk.size());
    return chunk;
}

esptool::Status FakeSerialLink::setBaudRate(int baud)
{
    m_bauds.append(baud);
    return {};
}

bool FakeSerialLink::logLine(const QString& change)
{
    if (!m_hasModemLines)
        return false;
    m_lines.append(u"%1@%2"_s.arg(change).arg(m_nowMs));
    return true;
}

bool FakeSerialLink::setDataTerminalReady(bool asserted)
{
    return logLine(u"dtr=%1"_s.arg(int(asserted)));
}

bool FakeSerialLink::setRequestToSend(bool asserted)
{
    return logLine(u"rts=%1"_s.arg(int(asserted)));
}

bool FakeSerialLink::setModemLines(bool dtrAsserted, bool rtsAsserted)
{
    return logLine(u"lines=%1%2"_s.arg(int(dtrAsserted)).arg(int(rtsAsserted)));
}
