#include "serial/UdevProperties.h"

#include <QString>

using namespace Qt::StringLiterals;

namespace {

using From = UdevPropertySource::From;

constexpr qsizetype maximumUsbIdDigits = 4;
constexpr int hexadecimalRadix = 16;

}  // namespace

UdevEntryKind udevEntryKind(UdevDeviceType type)
{
    if (type.subsystem == "tty")
        return UdevEntryKind::serialDevice;
    if (type.subsystem == "usb") {
        if (type.devtype == "usb_device")
            return UdevEntryKind::usbDevice;
        if (type.devtype == "usb_interface")
            return UdevEntryKind::usbInterface;
    }
    return UdevEntryKind::other;
}

bool isUsbHub(QByteArrayView deviceClass, QByteArrayView parentSubsystem)
{
    constexpr QByteArrayView hubClass = "09";
    return deviceClass.trimmed() == hubClass || parentSubsystem != "usb";
}

UdevPropertySource udevPropertySource(UdevEntryKind kind, QStringView key)
{
    switch (kind) {
    case UdevEntryKind::serialDevice:
        if (key == u"IOCalloutDevice")
            return {From::deviceNode};
        if (key == u"IOTTYDevice")
            return {From::kernelName};
        break;
    case UdevEntryKind::usbDevice:
        if (key == u"USB Vendor Name")
            return {From::textAttribute, "manufacturer"};
        if (key == u"USB Product Name")
            return {From::textAttribute, "product"};
        if (key == u"kUSBVendorString")
            return {From::hardwareDatabase, "ID_VENDOR_FROM_DATABASE"};
        if (key == u"kUSBProductString")
            return {From::hardwareDatabase, "ID_MODEL_FROM_DATABASE"};
        [[fallthrough]];
    case UdevEntryKind::usbHub:
        if (key == u"idVendor")
            return {From::hexAttribute, "idVendor"};
        if (key == u"idProduct")
            return {From::hexAttribute, "idProduct"};
        break;
    case UdevEntryKind::usbInterface:
        if (key == u"Product Name")
            return {From::textAttribute, "interface"};
        break;
    case UdevEntryKind::other:
        break;
    }
    return {};
}

std::optional<qint64> parseHexAttribute(QByteArrayView text)
{
    const QByteArrayView digits = text.trimmed();
    if (digits.isEmpty() || digits.size() > maximumUsbIdDigits)
        return std::nullopt;
    qint64 value = 0;
    for (const char c : digits) {
        int digit = -1;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        if (digit < 0)
            return std::nullopt;
        value = value * hexadecimalRadix + digit;
    }
    return value;
}

QByteArray usbHardwareDatabaseModalias(qint64 vendorID, qint64 productID)
{
    // The database's USB keys are "usb:v<VVVV>p<PPPP>*" in upper-case hex; the vendor's own
    // entry "usb:v<VVVV>*" matches the same text.
    const auto hex4 = [](qint64 id) {
        return QByteArray::number(id, hexadecimalRadix).toUpper().rightJustified(4, '0');
    };
    return "usb:v"_ba + hex4(vendorID) + 'p' + hex4(productID);
}
