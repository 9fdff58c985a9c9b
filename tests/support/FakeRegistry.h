#pragma once

#include "serial/DeviceRegistry.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <utility>

// A device registry built in a test: a forest of entries with properties by key, some of them
// marked as serial devices. Every handle it hands out is tracked, so a test can check that each
// was released exactly once and that no released or unknown handle was used.
class FakeRegistry final : public DeviceRegistry
{
public:
    using EntryId = int;

    // A new entry below parent, or a root when there is none.
    EntryId addEntry(std::optional<EntryId> parent = std::nullopt);
    void setProperty(EntryId entry, const QString& key, RegistryValue value);
    // Lists the entry among the serial devices, after those added before.
    void addSerialDevice(EntryId entry);
    // Takes the entry off the serial devices, as when its adapter is unplugged.
    void removeSerialDevice(EntryId entry);

    // A USB serial bridge as a registry shows it: a serial device below a USB device that
    // carries the adapter's identity. Without any identity the device has no USB ancestor.
    struct UsbSerialAdapter
    {
        QString path;
        QString vendor;
        QString product;
        std::optional<qint64> vendorID;
    };
    struct AdapterEntries
    {
        std::optional<EntryId> usbDevice;
        EntryId serialDevice;
    };
    AdapterEntries addUsbSerialAdapter(const UsbSerialAdapter& adapter);
    // Makes serialDevices() fail, as a registry that cannot be queried.
    void setUnavailable(bool unavailable) { m_unavailable = unavailable; }
    // A handle on any entry, as the enumeration would give for a serial device; the caller
    // releases it.
    RegistryHandle open(EntryId entry) { return handOut(entry); }

    int handlesHandedOut() const { return m_handedOut; }
    int handlesReleased() const { return m_released; }
    int openHandles() const { return int(m_open.size()); }
    // Second releases of a handle, and releases of handles never handed out.
    int doubleReleases() const { return m_doubleReleases; }
    int unknownReleases() const { return m_unknownReleases; }
    // Property or parent requests through handles that are not open.
    int badUses() const { return m_badUses; }
    int enumerations() const { return m_enumerations; }
    // The keys read from an entry, in order, through any handle; recorded unless switched off
    // (a benchmark reading the same tree thousands of times does).
    QStringList keysRead(EntryId entry) const { return m_entries.at(entry).keysRead; }
    void setRecordingReads(bool recording) { m_recordingReads = recording; }

    std::optional<QList<RegistryHandle>> serialDevices() override;
    std::optional<RegistryValue> property(RegistryHandle entry, QStringView key) override;
    std::optional<RegistryHandle> parentEntry(RegistryHandle entry) override;
    void release(RegistryHandle handle) override;

private:
    struct Entry
    {
        std::optional<EntryId> parent;
        QList<std::pair<QString, RegistryValue>> properties;
        QStringList keysRead;
    };

    RegistryHandle handOut(EntryId entry);

    QList<Entry> m_entries;
    QList<EntryId> m_serialDevices;
    bool m_unavailable = false;
    bool m_recordingReads = true;

    // Handles count up from firstHandle and are never reused, so any handle below the next one
    // that is not open has been released already.
    static constexpr RegistryHandle firstHandle = 0x1000;
    QHash<RegistryHandle, EntryId> m_open;
    RegistryHandle m_nextHandle = firstHandle;
    int m_handedOut = 0;
    int m_released = 0;
    int m_doubleReleases = 0;
    int m_unknownReleases = 0;
    int m_badUses = 0;
    int m_enumerations = 0;
};
