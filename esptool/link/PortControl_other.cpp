#include "link/PortControl.h"

#include <QSerialPort>

namespace esptool::port {

// QSerialPort already opens ports exclusively on Windows and locks them on macOS.
bool claimExclusive(QSerialPort& /*port*/)
{
    return true;
}

void requestLowLatency(QSerialPort& /*port*/) {}

// Without a call that sets both lines, they change one after the other.
bool setModemLines(QSerialPort& port, bool dtr, bool rts)
{
    return port.setDataTerminalReady(dtr) && port.setRequestToSend(rts);
}

}  // namespace esptool::port
