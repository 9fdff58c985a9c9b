#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <optional>

// A sysfs tree in a temporary folder, laid out as the kernel lays it out: device folders under
// devices/ with their uevent files, attributes and "subsystem" links, in class/tty a link to
// every tty device, in bus/usb/devices one to every USB device and interface.
class FakeSysfs
{
public:
    FakeSysfs();

    QString root() const { return m_root.path(); }

    // What a USB device reports about itself; a string left out has no file at all.
    struct UsbDevice
    {
        QByteArray idVendor;  // as the kernel writes it: "10c4"
        QByteArray idProduct;
        std::optional<QString> manufacturer = std::nullopt;
        std::optional<QString> product = std::nullopt;
        // The string of its first interface, on some adapters a product name of its own.
        std::optional<QString> interface = std::nullopt;
        QByteArray deviceClass = "00";  // "09" for a hub
        // Of its first interface: "ff" vendor-specific (the bridges), "02" and "02" CDC-ACM.
        QByteArray interfaceClass = "ff";
        QByteArray interfaceSubClass = "00";
    };

    // The root hub usb<bus> of a host controller; gives its folder, as the others do.
    QString addRootHub(int bus);
    // A device plugged into a hub's port: "1-2" on the root hub of bus 1, "1-2.3" below that.
    QString addUsbDevice(const QString& hub, int port, const UsbDevice& device);
    // The serial device of a USB device's first interface: ttyUSB<n> below the port device of a
    // usb-serial driver, ttyACM<n> right below the interface (CDC-ACM).
    void addUsbSerial(const QString& usbDevice, const QString& ttyName);
    // The driver that has a USB device's first interface: "ch341", or "usbfs" for a program that
    // claimed it through /dev/bus/usb. A driver that makes a port has its tty added apart.
    void bindInterface(const QString& usbDevice, const QString& driver);
    // A serial port of the main board, without USB.
    void addBoardSerial(const QString& ttyName);
    // A tty without a device, as virtual consoles and pseudo-terminals are.
    void addVirtualTty(const QString& ttyName);

private:
    QString addUsbDevice(const QString& path, const UsbDevice& device);
    QString addDevice(const QString& path, const QString& subsystem, const QByteArray& uevent);
    void addTty(const QString& parent, const QString& folder, const QString& ttyName);

    QTemporaryDir m_root;
    int m_ttyMinor = 0;
};
