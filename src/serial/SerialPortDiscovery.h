#pragma once

#include "serial/DeviceRegistry.h"
#include "serial/SerialPortInfo.h"

#include <QList>
#include <QString>
#include <QStringView>

#include <optional>

// The USB identity gathered while walking up from a serial device. A text counts as missing
// while it is empty, a number while it is absent.
struct USBInfo
{
    QString vendor;
    QString product;
    std::optional<qint64> vendorID;
    std::optional<qint64> productID;
};

struct PortEnumeration
{
    enum class Outcome
    {
        listed,
        registryUnavailable,
    };
    Outcome outcome = Outcome::listed;
    // Unfiltered and unsorted, in the registry's order; empty when the registry is unavailable.
    QList<SerialPortInfo> ports;
};

// Reads serial ports and their USB identity from a device registry. Nothing here reports an
// error: a missing or malformed property is simply absent, and a port without one of its details
// keeps the default for it.
class SerialPortDiscovery
{
public:
    explicit SerialPortDiscovery(DeviceRegistry& registry);

    PortEnumeration enumerateSerialPorts() const;

    // Nothing when the device has no callout path. The caller keeps ownership of service.
    std::optional<SerialPortInfo> readPortInfo(RegistryHandle service) const;

    // Walks up from the service's parent until an entry completes vendor, product and vendor ID,
    // or the root is passed. The caller keeps ownership of service; every ancestor handle is
    // released here.
    USBInfo readUSBInfo(RegistryHandle service) const;

    // Fills only the fields of info that are still missing.
    void mergeUSBProperties(RegistryHandle entry, USBInfo& info) const;

    std::optional<QString> readStringProperty(RegistryHandle entry, QStringView key) const;

    // Numbers as they are; texts as decimal, or hexadecimal when they begin with "0x"/"0X".
    std::optional<qint64> readIntegerProperty(RegistryHandle entry, QStringView key) const;

private:
    DeviceRegistry& m_registry;
};
