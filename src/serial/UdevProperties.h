#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QStringView>

#include <optional>

// How the Linux backend presents udev devices as registry entries. Kept apart from the libudev
// calls so that the mapping can be checked without the hardware it describes.

enum class UdevEntryKind
{
    serialDevice,  // subsystem "tty"
    usbDevice,     // a USB device that may name itself
    usbHub,        // a hub, the root hub of a host controller among them: it lends no names
    usbInterface,  // one interface of a USB device
    other,
};

struct UdevDeviceType
{
    QByteArrayView subsystem;
    QByteArrayView devtype;
};

UdevEntryKind udevEntryKind(UdevDeviceType type);

// A USB device that is a hub (device class 09) or that sits right below a non-USB parent (the
// root hub standing for its host controller). Their manufacturer strings describe the kernel's
// hub driver ("Linux 6.1 xhci-hcd"), never the adapter plugged into them.
bool isUsbHub(QByteArrayView deviceClass, QByteArrayView parentSubsystem);

struct UdevPropertySource
{
    enum class From
    {
        nothing,           // the key is absent on this kind of entry
        deviceNode,        // the device node, /dev/ttyUSB0
        kernelName,        // the kernel name, ttyUSB0
        textAttribute,     // a sysfs attribute, as text
        hexAttribute,      // a sysfs attribute holding a hexadecimal number
        hardwareDatabase,  // a property from udev's hardware database for the vendor/product pair
    };
    From from = From::nothing;
    const char* name = nullptr;  // the attribute or hardware-database property
};

UdevPropertySource udevPropertySource(UdevEntryKind kind, QStringView key);

// The contents of a hexadecimal attribute file such as idVendor ("1a86"); nothing unless it is
// one to four hex digits, as USB identifiers are.
std::optional<qint64> parseHexAttribute(QByteArrayView text);

// The key under which udev's hardware database holds a USB device's vendor and model names.
QByteArray usbHardwareDatabaseModalias(qint64 vendorID, qint64 productID);
