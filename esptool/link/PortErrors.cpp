#include "link/PortErrors.h"

#include "link/BusyPort.h"

#include <QFile>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace esptool {

PortProbe probePort(const QString& path)
{
    PortProbe probe;
    const QByteArray native = QFile::encodeName(path);
    struct stat info = {};
    if (::stat(native.constData(), &info) != 0)
        return probe;
    probe.exists = true;
    probe.accessible = ::access(native.constData(), R_OK | W_OK) == 0;
    if (const group* owner = ::getgrgid(info.st_gid); owner != nullptr)
        probe.groupName = QString::fromLocal8Bit(owner->gr_name);
    return probe;
}

FlasherError openFailure(const QString& path, QSerialPort::SerialPortError error,
                         const QString& errorText, const PortProbe& probe)
{
    if (!probe.exists || error == QSerialPort::DeviceNotFoundError) {
        return {ErrorKind::portNotFound, u"Serial port %1 does not exist."_s.arg(path),
                u"Check that the board is plugged in and choose its port again."_s};
    }
    if (!probe.accessible) {
        const bool namedGroup = !probe.groupName.isEmpty() && probe.groupName != u"root"_s;
        const QString hint =
            namedGroup
                ? u"Add your user to the group '%1' that owns it (sudo usermod -aG %1 $USER), "
                  "then log out and in again."_s.arg(probe.groupName)
                : u"Ask an administrator for read and write access to it, then log out and in "
                  "again."_s;
        return {ErrorKind::permissionDenied, u"No permission to open serial port %1."_s.arg(path),
                hint};
    }
    if (error == QSerialPort::PermissionError) {
        return {ErrorKind::portBusy, busyPortMessage(path, {}),
                u"Close any serial monitor or other flasher using it and try again."_s};
    }
    return {
        ErrorKind::portFailure, u"Could not open serial port %1: %2."_s.arg(path, errorText), {}};
}

FlasherError linkLost(const QString& path, QSerialPort::SerialPortError error)
{
    QString what;
    switch (error) {
    case QSerialPort::ResourceError:
        what = u"the device went away"_s;
        break;
    case QSerialPort::ReadError:
        what = u"reading from it failed"_s;
        break;
    case QSerialPort::WriteError:
        what = u"writing to it failed"_s;
        break;
    case QSerialPort::TimeoutError:
        what = u"it stopped taking data"_s;
        break;
    case QSerialPort::NotOpenError:
        what = u"the port was already closed"_s;
        break;
    default:
        what = u"serial port error %1"_s.arg(static_cast<int>(error));
        break;
    }
    return {ErrorKind::linkLost,
            u"The connection to the board on %1 was lost: %2."_s.arg(path, what),
            u"Check that the board is still plugged in and the cable is sound, then try again."_s};
}

}  // namespace esptool
