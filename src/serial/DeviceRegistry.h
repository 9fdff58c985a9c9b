#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringView>

#include <memory>
#include <optional>
#include <variant>

// A handle on one registry entry. Every handle a registry hands out is owned by the caller,
// who gives it back with release() exactly once.
using RegistryHandle = quint32;

// A property value as the registry stores it: a text, a number, or something else (raw data,
// for instance) that the port logic treats as missing.
using RegistryValue = std::variant<QString, qint64, QByteArray>;

// The operating system's device registry, reduced to what port discovery needs: the serial
// devices, their properties by key, and each entry's parent towards the root.
class DeviceRegistry
{
public:
    virtual ~DeviceRegistry();

    DeviceRegistry(const DeviceRegistry&) = delete;
    DeviceRegistry& operator=(const DeviceRegistry&) = delete;

    // One handle per serial device in the registry's order; nothing when the registry cannot
    // be queried at all (an empty list is an ordinary answer).
    virtual std::optional<QList<RegistryHandle>> serialDevices() = 0;

    // The value of key on that very entry (neither parents nor children are searched).
    virtual std::optional<RegistryValue> property(RegistryHandle entry, QStringView key) = 0;

    // A new handle on the entry's parent, or nothing at the root.
    virtual std::optional<RegistryHandle> parentEntry(RegistryHandle entry) = 0;

    virtual void release(RegistryHandle handle) = 0;

protected:
    DeviceRegistry() = default;
};

// The registry backend of the platform this build is for (libudev on Linux).
std::unique_ptr<DeviceRegistry> createPlatformRegistry();
