#include "support/FakeRegistry.h"

using namespace Qt::StringLiterals;

FakeRegistry::EntryId FakeRegistry::addEntry(std::optional<EntryId> parent)
{
    m_entries.append(Entry{parent, {}, {}});
    return EntryId(m_entries.size() - 1);
}

void FakeRegistry::setProperty(EntryId entry, const QString& key, RegistryValue value)
{
    auto& properties = m_entries[entry].properties;
    for (auto& [existingKey, existingValue] : properties) {
        if (existingKey == key) {
            existingValue = std::move(value);
            return;
        }
    }
    properties.append({key, std::move(value)});
}

void FakeRegistry::addSerialDevice(EntryId entry)
{
    m_serialDevices.append(entry);
}

void FakeRegistry::removeSerialDevice(EntryId entry)
{
    m_serialDevices.removeAll(entry);
}

FakeRegistry::AdapterEntries FakeRegistry::addUsbSerialAdapter(const UsbSerialAdapter& adapter)
{
    std::optional<EntryId> usbDevice;
    if (!adapter.vendor.isEmpty() || !adapter.product.isEmpty() || adapter.vendorID) {
        usbDevice = addEntry();
        if (!adapter.vendor.isEmpty())
            setProperty(*usbDevice, u"USB Vendor Name"_s, adapter.vendor);
        if (!adapter.product.isEmpty())
            setProperty(*usbDevice, u"USB Product Name"_s, adapter.product);
        if (adapter.vendorID)
            setProperty(*usbDevice, u"idVendor"_s, *adapter.vendorID);
    }
    const EntryId device = addEntry(usbDevice);
    setProperty(device, u"IOCalloutDevice"_s, adapter.path);
    setProperty(device, u"IOTTYDevice"_s, adapter.path.section(u'/', -1));
    addSerialDevice(device);
    return {usbDevice, device};
}

std::optional<QList<RegistryHandle>> FakeRegistry::serialDevices()
{
    ++m_enumerations;
    if (m_unavailable)
        return std::nullopt;
    QList<RegistryHandle> handles;
    for (const EntryId device : std::as_const(m_serialDevices))
        handles.append(handOut(device));
    return handles;
}

std::optional<RegistryValue> FakeRegistry::property(RegistryHandle entry, QStringView key)
{
    const auto open = m_open.constFind(entry);
    if (open == m_open.constEnd()) {
        ++m_badUses;
        return std::nullopt;
    }
    Entry& read = m_entries[*open];
    if (m_recordingReads)
        read.keysRead.append(key.toString());
    for (const auto& [existingKey, value] : std::as_const(read.properties)) {
        if (existingKey == key)
            return value;
    }
    return std::nullopt;
}

std::optional<RegistryHandle> FakeRegistry::parentEntry(RegistryHandle entry)
{
    const auto open = m_open.constFind(entry);
    if (open == m_open.constEnd()) {
        ++m_badUses;
        return std::nullopt;
    }
    const std::optional<EntryId> parent = m_entries[*open].parent;
    if (!parent)
        return std::nullopt;
    return handOut(*parent);
}

void FakeRegistry::release(RegistryHandle handle)
{
    if (m_open.remove(handle)) {
        ++m_released;
    } else if (handle >= firstHandle && handle < m_nextHandle) {
        ++m_doubleReleases;
    } else {
        ++m_unknownReleases;
    }
}

RegistryHandle FakeRegistry::handOut(EntryId entry)
{
    const RegistryHandle handle = m_nextHandle++;
    m_open.insert(handle, entry);
    ++m_handedOut;
    return handle;
}
