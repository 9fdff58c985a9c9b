#pragma once

#include "serial/LinuxSysfs.h"

#include <QByteArray>

#include <memory>

struct udev;
struct udev_hwdb;

namespace tavix {

// udev's hardware database (hwdb.bin), read through libudev without a udev daemon. Minimal
// systems lack the compiled database; every lookup then gives empty names.
class LinuxHardwareDatabase
{
public:
    LinuxHardwareDatabase();
    ~LinuxHardwareDatabase();
    LinuxHardwareDatabase(const LinuxHardwareDatabase&) = delete;
    LinuxHardwareDatabase& operator=(const LinuxHardwareDatabase&) = delete;

    UsbNames usbNames(quint16 vendorId, quint16 productId) const;

    // The database's key for a USB device, "usb:v<VVVV>p<PPPP>" in upper-case hexadecimal; the
    // vendor's own entry, "usb:v<VVVV>*", matches it as well.
    static QByteArray usbModalias(quint16 vendorId, quint16 productId);

private:
    struct Unref
    {
        void operator()(udev* context) const;
        void operator()(udev_hwdb* database) const;
    };

    std::unique_ptr<udev, Unref> m_udev;
    std::unique_ptr<udev_hwdb, Unref> m_database;
};

}  // namespace tavix
