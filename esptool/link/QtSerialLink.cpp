#include "link/QtSerialLink.h"

#include "failure/Failure.h"
#include "link/PortControl.h"
#include "link/PortErrors.h"
#include "link/Trace.h"
#include "protocol/RomProtocol.h"

#include <QThread>

using namespace Qt::StringLiterals;

namespace esptool {

QtSerialLink::QtSerialLink(const QString& path)
    : m_path(path)
{
    m_port.setPortName(path);
}

Result<std::unique_ptr<SerialLink>> QtSerialLink::open(const QString& path, int baud)
{
    std::unique_ptr<QtSerialLink> link(new QtSerialLink(path));
    QSerialPort& port = link->m_port;
    port.setBaudRate(baud);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
    if (!port.open(QIODevice::ReadWrite))
        return openFailure(path, port.error(), port.errorString(), probePort(path));
    if (!port::claimExclusive(port)) {
        port.close();
        return openFailure(path, QSerialPort::PermissionError, {}, probePort(path));
    }
    port::requestLowLatency(port);
    qCDebug(linkTrace).noquote() << u"opened %1 at %2 baud"_s.arg(path).arg(baud);
    return std::unique_ptr<SerialLink>(std::move(link));
}

QString QtSerialLink::portName() const
{
    return m_path;
}

Status QtSerialLink::write(QByteArrayView bytes)
{
    if (!m_port.isOpen())
        return linkLost(m_path, QSerialPort::NotOpenError);
    if (m_port.write(bytes.data(), bytes.size()) != bytes.size())
        return lostLink();
    const QDeadlineTimer deadline(rom::timeout::serialWrite);
    while (m_port.bytesToWrite() > 0) {
        if (!m_port.waitForBytesWritten(static_cast<int>(deadline.remainingTime())) &&
            (m_port.error() != QSerialPort::TimeoutError || deadline.hasExpired())) {
            return lostLink();
        }
    }
    return {};
}

Result<QByteArray> QtSerialLink::read(QDeadlineTimer deadline)
{
    if (!m_port.isOpen())
        return linkLost(m_path, QSerialPort::NotOpenError);
    if (m_port.bytesAvailable() == 0 &&
        !m_port.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
        if (m_port.error() != QSerialPort::TimeoutError && m_port.error() != QSerialPort::NoError)
            return lostLink();
        m_port.clearError();
        return QByteArray();
    }
    return m_port.readAll();
}

void QtSerialLink::discardInput()
{
    if (!m_port.isOpen())
        return;
    m_port.clear(QSerialPort::Input);
    m_port.readAll();
}

Status QtSerialLink::setBaudRate(int baud)
{
    if (!m_port.setBaudRate(baud)) {
        return esptool::failure(Failure::baudNotAccepted,
                                {m_path, QString::number(baud), m_port.errorString()});
    }
    return {};
}

bool QtSerialLink::setDataTerminalReady(bool asserted)
{
    if (m_port.setDataTerminalReady(asserted))
        return true;
    m_port.clearError();
    return false;
}

bool QtSerialLink::setRequestToSend(bool asserted)
{
    if (m_port.setRequestToSend(asserted))
        return true;
    m_port.clearError();
    return false;
}

bool QtSerialLink::setModemLines(bool dtrAsserted, bool rtsAsserted)
{
    return port::setModemLines(m_port, dtrAsserted, rtsAsserted);
}

void QtSerialLink::pause(std::chrono::milliseconds duration)
{
    QThread::msleep(static_cast<unsigned long>(duration.count()));
}

FlasherError QtSerialLink::lostLink()
{
    const QSerialPort::SerialPortError error = m_port.error();
    qCDebug(linkTrace).noquote() << u"lost %1: serial port error %2"_s.arg(m_path).arg(error);
    m_port.close();
    return linkLost(m_path, error);
}

}  // namespace esptool
