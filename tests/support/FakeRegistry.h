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
    // Makes serialDevices() fail, as a registry that cannot be queried.
    void setUnavailable(bool unavailable) { m_unavailable = unavailable; }
    // A handle on any entry, as the enumeration would give for a serial device; the caller
    // releases it.
    RegistryHandle open(EntryId entry) { return handOut(entry); }

    int handlesHandedOut() const { return m_handedOut; }
    int handlesReleased() const { return m_released; }
    int openHandles() const { return int(m_open.size()); }
    // Releases of handles that were already released or never handed out.
    int badReleases() const { return m_badReleases; }
    // Property or parent requests through handles that are not open.
    int badUses() const { return m_badUses; }
    int enumerations() const { return m_enumerations; }
    // The keys read from an entry, in order, through any handle.
    QStringList keysRead(EntryId entry) const { return m_keysRead.value(entry); }

    std::optional<QList<RegistryHandle>> serialDevices() override;
    std::optional<RegistryValue> property(RegistryHandle entry, QStringView key) override;
    std::optional<RegistryHandle> parentEntry(RegistryHandle entry) override;
    void release(RegistryHandle handle) override;

private:
    struct Entry
    {
        std::optional<EntryId> parent;
        QList<std::pair<QString, RegistryValue>> properties;
    };

    RegistryHandle handOut(EntryId entry);

    QList<Entry> m_entries;
    QList<EntryId> m_serialDevices;
    bool m_unavailable = false;

    QHash<RegistryHandle, EntryId> m_open;
    QHash<EntryId, QStringList> m_keysRead;
    RegistryHandle m_nextHandle = 0x1000;
    int m_handedOut = 0;
    int m_released = 0;
    int m_badReleases = 0;
    int m_badUses = 0;
    int m_enumerations = 0;
};
