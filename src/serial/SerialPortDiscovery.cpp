#include "serial/SerialPortDiscovery.h"

#include <limits>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

constexpr QStringView calloutDeviceKey = u"IOCalloutDevice";
constexpr QStringView ttyDeviceKey = u"IOTTYDevice";
constexpr QStringView usbVendorNameKey = u"USB Vendor Name";
constexpr QStringView usbVendorStringKey = u"kUSBVendorString";
constexpr QStringView usbProductNameKey = u"USB Product Name";
constexpr QStringView usbProductStringKey = u"kUSBProductString";
constexpr QStringView interfaceProductNameKey = u"Product Name";
constexpr QStringView idVendorKey = u"idVendor";
constexpr QStringView usbVendorIDKey = u"USB Vendor ID";
constexpr QStringView idProductKey = u"idProduct";
constexpr QStringView usbProductIDKey = u"USB Product ID";

constexpr int decimalRadix = 10;
constexpr int hexadecimalRadix = 16;

// Gives a registry handle back when it goes out of scope, so that every path through the walk
// and the enumeration releases what it obtained exactly once.
class OwnedHandle
{
public:
    OwnedHandle(DeviceRegistry& registry, RegistryHandle handle)
        : m_registry(registry)
        , m_handle(handle)
    {}
    ~OwnedHandle() { m_registry.release(m_handle); }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;

    RegistryHandle get() const { return m_handle; }

    // Releases the current handle and takes over next.
    void reset(RegistryHandle next)
    {
        m_registry.release(m_handle);
        m_handle = next;
    }

private:
    DeviceRegistry& m_registry;
    RegistryHandle m_handle;
};

int digitValue(QChar c, int radix)
{
    const char16_t u = c.unicode();
    int value = -1;
    if (u >= u'0' && u <= u'9')
        value = u - u'0';
    else if (u >= u'a' && u <= u'f')
        value = u - u'a' + decimalRadix;
    else if (u >= u'A' && u <= u'F')
        value = u - u'A' + decimalRadix;
    return value < radix ? value : -1;
}

// An optional sign and at least one digit of the radix, nothing else, within 64 bits.
std::optional<qint64> parseSignedInteger(QStringView text, int radix)
{
    qsizetype i = 0;
    bool negative = false;
    if (!text.isEmpty() && (text.front() == u'+' || text.front() == u'-')) {
        negative = text.front() == u'-';
        ++i;
    }
    if (i == text.size())
        return std::nullopt;

    // Accumulated as a negative number, whose range reaches one further than the positive one.
    constexpr qint64 minimum = std::numeric_limits<qint64>::min();
    qint64 value = 0;
    for (; i < text.size(); ++i) {
        const int digit = digitValue(text[i], radix);
        if (digit < 0)
            return std::nullopt;
        if (value < (minimum + digit) / radix)
            return std::nullopt;
        value = value * radix - digit;
    }
    if (negative)
        return value;
    if (value == minimum)
        return std::nullopt;
    return -value;
}

std::optional<qint64> parseIntegerText(const QString& raw)
{
    QString cleaned = raw.trimmed();
    cleaned.remove("0x"_L1);
    cleaned.remove("0X"_L1);
    // The radix is decided on the text as read: a blank before "0x" makes it decimal.
    const bool hexadecimal =
        raw.size() >= 2 && raw[0] == u'0' && (raw[1] == u'x' || raw[1] == u'X');
    if (cleaned.isEmpty())
        return std::nullopt;
    return parseSignedInteger(cleaned, hexadecimal ? hexadecimalRadix : decimalRadix);
}

bool isComplete(const USBInfo& info)
{
    // The product ID is left out on purpose: adapters that name themselves fully are taken as
    // found even when their product ID sits elsewhere.
    return !info.vendor.isEmpty() && !info.product.isEmpty() && info.vendorID.has_value();
}

}  // namespace

SerialPortDiscovery::SerialPortDiscovery(DeviceRegistry& registry)
    : m_registry(registry)
{}

PortEnumeration SerialPortDiscovery::enumerateSerialPorts() const
{
    const std::optional<QList<RegistryHandle>> devices = m_registry.serialDevices();
    if (!devices)
        return {PortEnumeration::Outcome::registryUnavailable, {}};

    PortEnumeration enumeration;
    for (const RegistryHandle device : *devices) {
        const OwnedHandle owned(m_registry, device);
        if (std::optional<SerialPortInfo> info = readPortInfo(owned.get()))
            enumeration.ports.append(std::move(*info));
    }
    return enumeration;
}

std::optional<SerialPortInfo> SerialPortDiscovery::readPortInfo(RegistryHandle service) const
{
    std::optional<QString> path = readStringProperty(service, calloutDeviceKey);
    if (!path)
        return std::nullopt;
    QString name = readStringProperty(service, ttyDeviceKey).value_or(u"Unknown"_s);
    USBInfo usb = readUSBInfo(service);
    return SerialPortInfo({.path = std::move(*path),
                           .name = std::move(name),
                           .vendor = std::move(usb.vendor),
                           .product = std::move(usb.product),
                           .vendorID = usb.vendorID,
                           .productID = usb.productID});
}

USBInfo SerialPortDiscovery::readUSBInfo(RegistryHandle service) const
{
    USBInfo info;
    // The serial device itself carries no USB details; they live on its ancestors.
    const std::optional<RegistryHandle> parent = m_registry.parentEntry(service);
    if (!parent)
        return info;

    OwnedHandle current(m_registry, *parent);
    for (;;) {
        mergeUSBProperties(current.get(), info);
        if (isComplete(info))
            break;
        const std::optional<RegistryHandle> next = m_registry.parentEntry(current.get());
        if (!next)
            break;
        current.reset(*next);
    }
    return info;
}

void SerialPortDiscovery::mergeUSBProperties(RegistryHandle entry, USBInfo& info) const
{
    // The first key that holds a text decides for this entry, even an empty text: an empty
    // name leaves the field missing so that the next ancestor is asked.
    const auto firstText = [&](std::initializer_list<QStringView> keys) {
        for (const QStringView key : keys) {
            if (std::optional<QString> text = readStringProperty(entry, key))
                return std::move(*text);
        }
        return QString();
    };
    const auto firstInteger = [&](QStringView key, QStringView alternative) {
        std::optional<qint64> value = readIntegerProperty(entry, key);
        return value ? value : readIntegerProperty(entry, alternative);
    };

    if (info.vendor.isEmpty())
        info.vendor = firstText({usbVendorNameKey, usbVendorStringKey});
    if (info.product.isEmpty())
        info.product = firstText({usbProductNameKey, usbProductStringKey, interfaceProductNameKey});
    if (!info.vendorID)
        info.vendorID = firstInteger(idVendorKey, usbVendorIDKey);
    if (!info.productID)
        info.productID = firstInteger(idProductKey, usbProductIDKey);
}

std::optional<QString> SerialPortDiscovery::readStringProperty(RegistryHandle entry,
                                                               QStringView key) const
{
    std::optional<RegistryValue> value = m_registry.property(entry, key);
    if (!value)
        return std::nullopt;
    if (QString* text = std::get_if<QString>(&*value))
        return std::move(*text);
    return std::nullopt;
}

std::optional<qint64> SerialPortDiscovery::readIntegerProperty(RegistryHandle entry,
                                                               QStringView key) const
{
    const std::optional<RegistryValue> value = m_registry.property(entry, key);
    if (!value)
        return std::nullopt;
    if (const qint64* number = std::get_if<qint64>(&*value))
        return *number;
    if (const QString* text = std::get_if<QString>(&*value))
        return parseIntegerText(*text);
    return std::nullopt;
}
