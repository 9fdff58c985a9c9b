#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>
#include <optional>

namespace tavix {

// A USB vendor's and product's names as a hardware database knows them; empty when unknown.
struct UsbNames
{
    QString vendor;
    QString product;
};

// Names for USB devices that do not name themselves; asked only for what a device leaves out.
using UsbHardwareDatabase = std::function<UsbNames(quint16 vendorId, quint16 productId)>;

// Reading sysfs as udev does, without udev: attributes, links and uevent keys of the device
// folders below a root that tests point at trees of their own.
namespace sysfs {

bool exists(const QByteArray& path);
// An attribute without its trailing line breaks; nothing when the file cannot be read.
std::optional<QByteArray> readAttribute(const QByteArray& path);
// A text attribute: the kernel hands USB string descriptors out as UTF-8.
std::optional<QString> readText(const QByteArray& device, const char* attribute);
// Hexadecimal attributes of one to four digits: idVendor ("1a86"), bInterfaceClass ("ff").
std::optional<quint16> readHexNumber(const QByteArray& device, const char* attribute);
std::optional<QByteArray> readLink(const QByteArray& path);
// A relative link target as sysfs writes them ("../../devices/..."), resolved against the
// folder that holds the link.
QByteArray resolveLink(QByteArray folder, const QByteArray& target);
QByteArray lastComponent(const QByteArray& path);
// The name the device's "subsystem" link points to: "usb", "tty", "pci"; empty without one.
QByteArray subsystemOf(const QByteArray& device);
QByteArray ueventValue(const QByteArray& device, QByteArrayView key);
// The entries of a folder, without "." and "..", sorted; empty when it cannot be read.
QList<QByteArray> folderEntries(const QByteArray& folder);

}  // namespace sysfs

}  // namespace tavix
