#include "serial/UdevRegistry.h"

#include <QFile>

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <libudev.h>
#include <unistd.h>

namespace {

constexpr const char* ttyClassDirectory = "/sys/class/tty";

struct DirectoryClose
{
    void operator()(DIR* directory) const { ::closedir(directory); }
};

QByteArrayView viewOf(const char* text)
{
    return text ? QByteArrayView(text, qsizetype(std::strlen(text))) : QByteArrayView();
}

}  // namespace

void UdevUnref::operator()(udev* context) const
{
    udev_unref(context);
}

void UdevUnref::operator()(udev_device* device) const
{
    udev_device_unref(device);
}

void UdevUnref::operator()(udev_hwdb* database) const
{
    udev_hwdb_unref(database);
}

UdevRegistry::UdevRegistry()
    : m_udev(udev_new())
{
    // Absent unless the database has been compiled (systemd-hwdb update); the names it would
    // give are simply missing then.
    if (m_udev)
        m_hardwareDatabase.reset(udev_hwdb_new(m_udev.get()));
}

UdevRegistry::~UdevRegistry() = default;

std::optional<QList<RegistryHandle>> UdevRegistry::serialDevices()
{
    if (!m_udev)
        return std::nullopt;
    // libudev's enumerator would build a full device object for each of the ~70 virtual
    // consoles and pseudo-terminals of a typical machine, some 10 ms per refresh on the main
    // thread. Only devices with a parent are wanted, and exactly those have a "device" link in
    // their class directory, so that link is tested first.
    const std::unique_ptr<DIR, DirectoryClose> directory(::opendir(ttyClassDirectory));
    if (!directory)
        return std::nullopt;
    QList<QByteArray> names;
    while (const dirent* item = ::readdir(directory.get())) {
        const QByteArray name(item->d_name);
        if (!name.startsWith('.') &&
            ::faccessat(::dirfd(directory.get()), (name + "/device").constData(), F_OK,
                        AT_SYMLINK_NOFOLLOW) == 0)
            names.append(name);
    }
    // In kernel-name order, whatever order the directory was read in.
    std::sort(names.begin(), names.end());

    QList<RegistryHandle> devices;
    for (const QByteArray& name : std::as_const(names)) {
        const QByteArray syspath = QByteArray(ttyClassDirectory) + '/' + name;
        std::unique_ptr<udev_device, UdevUnref> device(
            udev_device_new_from_syspath(m_udev.get(), syspath.constData()));
        if (device && udev_device_get_parent(device.get()))
            devices.append(adopt(device.release()));
    }
    return devices;
}

std::optional<RegistryValue> UdevRegistry::property(RegistryHandle entry, QStringView key)
{
    const auto found = m_entries.find(entry);
    if (found == m_entries.end())
        return std::nullopt;
    udev_device* device = found->second.device.get();
    const UdevPropertySource source = udevPropertySource(kindOf(found->second), key);

    using From = UdevPropertySource::From;
    switch (source.from) {
    case From::nothing:
        break;
    case From::deviceNode:
        if (const char* node = udev_device_get_devnode(device))
            return QFile::decodeName(node);
        break;
    case From::kernelName:
        if (const char* name = udev_device_get_sysname(device))
            return QFile::decodeName(name);
        break;
    case From::textAttribute:
        // The kernel hands USB string descriptors out as UTF-8.
        if (const char* text = udev_device_get_sysattr_value(device, source.name))
            return QString::fromUtf8(text);
        break;
    case From::hexAttribute:
        if (const std::optional<qint64> number =
                parseHexAttribute(viewOf(udev_device_get_sysattr_value(device, source.name))))
            return *number;
        break;
    case From::hardwareDatabase:
        if (std::optional<QString> name = hardwareDatabaseName(device, source.name))
            return *std::move(name);
        break;
    }
    return std::nullopt;
}

std::optional<RegistryHandle> UdevRegistry::parentEntry(RegistryHandle entry)
{
    const auto found = m_entries.find(entry);
    if (found == m_entries.end())
        return std::nullopt;
    // The parent belongs to the child's structure; a reference of our own keeps it valid after
    // the child's handle is released, which the walk does first.
    udev_device* parent = udev_device_get_parent(found->second.device.get());
    if (!parent)
        return std::nullopt;
    return adopt(udev_device_ref(parent));
}

void UdevRegistry::release(RegistryHandle handle)
{
    m_entries.erase(handle);
}

RegistryHandle UdevRegistry::adopt(udev_device* device)
{
    const RegistryHandle handle = m_nextHandle++;
    m_entries.emplace(handle, Entry{std::unique_ptr<udev_device, UdevUnref>(device), {}});
    return handle;
}

UdevEntryKind UdevRegistry::kindOf(Entry& entry) const
{
    if (entry.kind)
        return *entry.kind;
    udev_device* device = entry.device.get();
    UdevEntryKind kind = udevEntryKind({.subsystem = viewOf(udev_device_get_subsystem(device)),
                                        .devtype = viewOf(udev_device_get_devtype(device))});
    if (kind == UdevEntryKind::usbDevice) {
        udev_device* parent = udev_device_get_parent(device);
        const QByteArrayView parentSubsystem =
            parent ? viewOf(udev_device_get_subsystem(parent)) : QByteArrayView();
        if (isUsbHub(viewOf(udev_device_get_sysattr_value(device, "bDeviceClass")),
                     parentSubsystem))
            kind = UdevEntryKind::usbHub;
    }
    entry.kind = kind;
    return kind;
}

std::optional<QString> UdevRegistry::hardwareDatabaseName(udev_device* device,
                                                          const char* name) const
{
    if (!m_hardwareDatabase)
        return std::nullopt;
    const std::optional<qint64> vendorID =
        parseHexAttribute(viewOf(udev_device_get_sysattr_value(device, "idVendor")));
    const std::optional<qint64> productID =
        parseHexAttribute(viewOf(udev_device_get_sysattr_value(device, "idProduct")));
    if (!vendorID || !productID)
        return std::nullopt;

    const QByteArray modalias = usbHardwareDatabaseModalias(*vendorID, *productID);
    udev_list_entry* item = nullptr;
    udev_list_entry_foreach(item, udev_hwdb_get_properties_list_entry(m_hardwareDatabase.get(),
                                                                      modalias.constData(), 0))
    {
        if (viewOf(udev_list_entry_get_name(item)) == viewOf(name))
            return QString::fromUtf8(udev_list_entry_get_value(item));
    }
    return std::nullopt;
}

std::unique_ptr<DeviceRegistry> createPlatformRegistry()
{
    return std::make_unique<UdevRegistry>();
}
