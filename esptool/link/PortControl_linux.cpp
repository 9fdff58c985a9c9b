#include "link/PortControl.h"

#include <QSerialPort>

#include <cerrno>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>

namespace esptool::port {

bool claimExclusive(QSerialPort& port)
{
    const int fd = port.handle();
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        return false;
    // Root ignores TIOCEXCL, so the lock above is what keeps other tools out in that case.
    ::ioctl(fd, TIOCEXCL);
    return true;
}

void requestLowLatency(QSerialPort& port)
{
    serial_struct settings{};
    if (::ioctl(port.handle(), TIOCGSERIAL, &settings) != 0)
        return;
    settings.flags |= ASYNC_LOW_LATENCY;
    ::ioctl(port.handle(), TIOCSSERIAL, &settings);
}

bool setModemLines(QSerialPort& port, bool dtr, bool rts)
{
    int lines = 0;
    if (::ioctl(port.handle(), TIOCMGET, &lines) != 0)
        return false;
    lines = dtr ? lines | TIOCM_DTR : lines & ~TIOCM_DTR;
    lines = rts ? lines | TIOCM_RTS : lines & ~TIOCM_RTS;
    return ::ioctl(port.handle(), TIOCMSET, &lines) == 0;
}

}  // namespace esptool::port
