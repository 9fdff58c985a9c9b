#pragma once

#include "failure/FlasherError.h"

#include <QSerialPort>
#include <QString>

namespace esptool {

// What the file system says about a device node, for explaining why it would not open.
struct PortProbe
{
    bool exists = false;
    bool accessible = false;  // readable and writable by this process
    QString groupName;        // the group that owns the node, empty when unknown
};

// Looks at the node (stat, access, the owning group). The only place that asks the OS.
PortProbe probePort(const QString& path);

// Turns a failed open into the error the user sees. Qt reports both "no permission" and "in use"
// as a permission error, so the probe tells them apart.
FlasherError openFailure(const QString& path, QSerialPort::SerialPortError error,
                         const QString& errorText, const PortProbe& probe);

// The link went away while the port was open (board unplugged, cable pulled). Qt's error text
// can be stale here (a read that returns end-of-file keeps an older errno), so the kind of
// error is put into words instead.
FlasherError linkLost(const QString& path, QSerialPort::SerialPortError error);

}  // namespace esptool
