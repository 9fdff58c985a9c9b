#pragma once

#include "serial/PortLister.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

// A USB vendor's and product's names as a hardware database knows them; empty when unknown.
struct UsbNames
{
    QString vendor;
    QString product;
};

// Lists serial ports from sysfs. Serial devices are the "tty" class devices that have a "device"
// link (virtual consoles and pseudo-terminals have none); a port's USB identity is gathered from
// the device directories above it, the nearest first. sysfs is read directly: libudev needs no
// daemon either, but it cannot be pointed at another root, and tests hand this their own trees.
class LinuxPortLister final : public PortLister
{
public:
    // Names for USB devices that do not name themselves; asked only for what a device leaves out.
    using HardwareDatabase = std::function<UsbNames(quint16 vendorId, quint16 productId)>;

    // sysfsRoot is "/sys" on a running system.
    LinuxPortLister(const QString& sysfsRoot, HardwareDatabase hardwareDatabase);

    std::optional<QList<SerialPortInfo>> listPorts() override;

private:
    std::optional<SerialPortInfo> readPort(const QByteArray& classDirectory,
                                           const QByteArray& ttyName) const;
    std::optional<QByteArray> parentDevice(QByteArray path) const;
    void mergeUsbIdentity(const QByteArray& device, const std::optional<QByteArray>& parent,
                          SerialPortInfo::Fields& fields) const;

    QByteArray m_root;
    HardwareDatabase m_hardwareDatabase;
};
