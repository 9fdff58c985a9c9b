#include "FakeSerialLink.h"

#include "protocol/Slip.h"

#include <QThread>
#include <QtEndian>

using namespace Qt::StringLiterals;

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
    m_writes.append(bytes.toByteArray());
    if (m_responder)
        m_incoming.append(m_responder(m_writes.last()));
    return {};
}

esptool::Result<QByteArray> FakeSerialLink::read(QDeadlineTimer deadline)
{
    if (m_incoming.isEmpty()) {
        // Nothing will come: let the real deadline pass, as a silent port would.
        QThread::msleep(static_cast<unsigned long>(std::max<qint64>(deadline.remainingTime(), 0)));
        m_incoming.swap(m_late);
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

namespace romreplies {

QByteArray frame(quint8 opcode, quint32 value, const QByteArray& payload, quint8 status,
                 quint8 error)
{
    QByteArray packet(8, '\0');
    packet[0] = '\x01';
    packet[1] = static_cast<char>(opcode);
    qToLittleEndian<quint16>(static_cast<quint16>(payload.size() + 4), packet.data() + 2);
    qToLittleEndian<quint32>(value, packet.data() + 4);
    packet += payload + static_cast<char>(status) + static_cast<char>(error) + QByteArray(2, '\0');
    return esptool::slip::encode(packet);
}

QByteArray syncReplies()
{
    return frame(0x08, 0x20120707).repeated(8);
}

int requestOpcode(const QByteArray& written)
{
    const esptool::slip::DecodeResult decoded = esptool::slip::decode(written);
    if (decoded.frames.isEmpty() || decoded.frames[0].bytes.size() < 8)
        return -1;
    return static_cast<quint8>(decoded.frames[0].bytes[1]);
}

quint32 requestWord(const QByteArray& written, int index)
{
    const esptool::slip::DecodeResult decoded = esptool::slip::decode(written);
    const qsizetype offset = 8 + qsizetype{4} * index;
    if (decoded.frames.isEmpty() || decoded.frames[0].bytes.size() < offset + 4)
        return 0;
    return qFromLittleEndian<quint32>(decoded.frames[0].bytes.constData() + offset);
}

}  // namespace romreplies
