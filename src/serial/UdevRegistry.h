#pragma once

#include "serial/DeviceRegistry.h"
#include "serial/UdevProperties.h"

#include <memory>
#include <optional>
#include <unordered_map>

struct udev;
struct udev_device;
struct udev_hwdb;

struct UdevUnref
{
    void operator()(udev* context) const;
    void operator()(udev_device* device) const;
    void operator()(udev_hwdb* database) const;
};

// The Linux device registry on libudev. Serial devices are the "tty" devices that have a parent
// device (virtual consoles and pseudo-terminals have none), and an entry's parent is its parent
// device in sysfs. Everything is read from sysfs through libudev, so no udev daemon is needed;
// the daemon's own property database is not consulted, only the hardware database when present.
class UdevRegistry final : public DeviceRegistry
{
public:
    UdevRegistry();
    ~UdevRegistry() override;

    std::optional<QList<RegistryHandle>> serialDevices() override;
    std::optional<RegistryValue> property(RegistryHandle entry, QStringView key) override;
    std::optional<RegistryHandle> parentEntry(RegistryHandle entry) override;
    void release(RegistryHandle handle) override;

private:
    struct Entry
    {
        std::unique_ptr<udev_device, UdevUnref> device;
        std::optional<UdevEntryKind> kind;
    };

    RegistryHandle adopt(udev_device* device);
    UdevEntryKind kindOf(Entry& entry) const;
    std::optional<QString> hardwareDatabaseName(udev_device* device, const char* name) const;

    std::unique_ptr<udev, UdevUnref> m_udev;
    std::unique_ptr<udev_hwdb, UdevUnref> m_hardwareDatabase;
    std::unordered_map<RegistryHandle, Entry> m_entries;
    RegistryHandle m_nextHandle = 1;
};
