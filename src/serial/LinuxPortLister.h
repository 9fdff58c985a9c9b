#pragma once

#include "serial/LinuxAdapterScan.h"
#include "serial/LinuxSysfs.h"
#include "serial/PortLister.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace tavix {

// Lists serial ports from sysfs. Serial devices are the "tty" class devices that have a "device"
// link (virtual consoles and pseudo-terminals have none); a port's USB identity is gathered from
// the device directories above it, the nearest first. sysfs is read directly: libudev needs no
// daemon either, but it cannot be pointed at another root, and tests hand this their own trees.
// Ports that come and go are announced by udev's monitor.
class LinuxPortLister final : public PortLister
{
public:
    using HardwareDatabase = UsbHardwareDatabase;

    // sysfsRoot is "/sys" on a running system.
    LinuxPortLister(const QString& sysfsRoot, HardwareDatabase hardwareDatabase,
                    LinuxServicePaths services = {});
    ~LinuxPortLister() override;

    std::optional<QList<SerialPortInfo>> listPorts() override;
    QList<PortlessAdapter> listPortlessAdapters() override;
    // udev's monitor; nothing when libudev cannot make one.
    std::unique_ptr<PortWatch> watchPorts() override;

private:
    std::optional<SerialPortInfo> readPort(const QByteArray& classDirectory,
                                           const QByteArray& ttyName) const;
    std::optional<QByteArray> parentDevice(QByteArray path) const;
    void mergeUsbIdentity(const QByteArray& device, const std::optional<QByteArray>& parent,
                          SerialPortInfo::Fields& fields) const;

    QByteArray m_root;
    HardwareDatabase m_hardwareDatabase;
    LinuxServicePaths m_services;
};

}  // namespace tavix
