#pragma once

#include "serial/LinuxSysfs.h"
#include "serial/PortlessAdapter.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace tavix {

// Where the scan looks for the services that take adapters away from their serial drivers.
struct LinuxServicePaths
{
    QString procfs = QStringLiteral("/proc");
    // udev's rule folders, in its order of precedence.
    QStringList udevRules = {QStringLiteral("/etc/udev/rules.d"),
                             QStringLiteral("/usr/lib/udev/rules.d"),
                             QStringLiteral("/lib/udev/rules.d")};
};

// Finds the USB devices in sysfs that have an interface a serial driver would take, but no tty:
// the driver is missing, another driver has the interface, or a program claimed it through usbfs.
// A device that has any tty is left out, and so are devices whose serial driver is bound already
// (its tty is on its way).
class LinuxAdapterScan
{
public:
    LinuxAdapterScan(QByteArray sysfsRoot, UsbHardwareDatabase hardwareDatabase,
                     LinuxServicePaths services);

    QList<PortlessAdapter> adaptersWithoutPort() const;

    // The module that gives this interface its serial port, empty when it is none that an ESP32
    // board's adapter uses: CDC-ACM (Espressif's own USB, WCH's CH9102) by class, the bridge
    // chips' vendor-specific interfaces by vendor and product.
    static QString serialDriverFor(quint16 vendorId, quint16 productId, quint16 interfaceClass,
                                   quint16 interfaceSubClass);

private:
    std::optional<PortlessAdapter> inspect(const QByteArray& device, const QByteArray& name) const;
    QString runningServiceNamed(const QString& program) const;
    QString udevRuleOf(const QString& program) const;

    QByteArray m_root;
    UsbHardwareDatabase m_hardwareDatabase;
    LinuxServicePaths m_services;
};

}  // namespace tavix
