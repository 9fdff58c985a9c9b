#include "serial/LinuxHardwareDatabase.h"

#include <libudev.h>

namespace tavix {

namespace {

constexpr int hexadecimal = 16;
constexpr qsizetype usbIdDigits = 4;

}  // namespace

void LinuxHardwareDatabase::Unref::operator()(udev* context) const
{
    udev_unref(context);
}

void LinuxHardwareDatabase::Unref::operator()(udev_hwdb* database) const
{
    udev_hwdb_unref(database);
}

LinuxHardwareDatabase::LinuxHardwareDatabase()
    : m_udev(udev_new())
{
    if (m_udev)
        m_database.reset(udev_hwdb_new(m_udev.get()));
}

LinuxHardwareDatabase::~LinuxHardwareDatabase() = default;

UsbNames LinuxHardwareDatabase::usbNames(quint16 vendorId, quint16 productId) const
{
    UsbNames names;
    if (!m_database)
        return names;
    const QByteArray modalias = usbModalias(vendorId, productId);
    udev_list_entry* item = nullptr;
    udev_list_entry_foreach(
        item, udev_hwdb_get_properties_list_entry(m_database.get(), modalias.constData(), 0))
    {
        const QByteArrayView key(udev_list_entry_get_name(item));
        if (key == "ID_VENDOR_FROM_DATABASE")
            names.vendor = QString::fromUtf8(udev_list_entry_get_value(item));
        else if (key == "ID_MODEL_FROM_DATABASE")
            names.product = QString::fromUtf8(udev_list_entry_get_value(item));
    }
    return names;
}

QByteArray LinuxHardwareDatabase::usbModalias(quint16 vendorId, quint16 productId)
{
    const auto hex = [](quint16 id) {
        return QByteArray::number(id, hexadecimal).toUpper().rightJustified(usbIdDigits, '0');
    };
    return "usb:v" + hex(vendorId) + 'p' + hex(productId);
}

}  // namespace tavix
