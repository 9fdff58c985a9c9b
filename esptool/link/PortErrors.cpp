#include "link/PortErrors.h"

#include "failure/Failure.h"
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
    if (!probe.exists || error == QSerialPort::DeviceNotFoundError)
        return failure(Failure::portNotFound, {path});
    if (!probe.accessible) {
        const bool namedGroup = !probe.groupName.isEmpty() && probe.groupName != u"root"_s;
        return failure(namedGroup ? Failure::permissionDenied : Failure::permissionDeniedNoGroup,
                       {path, probe.groupName});
    }
    if (error == QSerialPort::PermissionError)
        return busyPort(path, {});
    return failure(Failure::portFailure, {path, errorText});
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
    return failure(Failure::linkLost, {path, what});
}

}  // namespace esptool
