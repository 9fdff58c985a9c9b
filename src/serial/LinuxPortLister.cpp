#include "serial/LinuxPortLister.h"

#include "serial/LinuxAdapterScan.h"
#include "serial/LinuxHardwareDatabase.h"
#include "serial/LinuxPortWatch.h"
#include "serial/LinuxSysfs.h"
#include "serial/PortTrace.h"
#include "serial/UdevMonitor.h"

#include <QFile>

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace tavix {

namespace {

using namespace sysfs;

struct DirectoryCloser
{
    void operator()(DIR* directory) const { ::closedir(directory); }
};
using Directory = std::unique_ptr<DIR, DirectoryCloser>;

bool isComplete(const SerialPortInfo::Fields& fields)
{
    // The product ID is left out on purpose: an adapter that names itself fully is taken as
    // found even when its product ID sits elsewhere.
    return !fields.vendor.isEmpty() && !fields.product.isEmpty() && fields.vendorID.has_value();
}

}  // namespace

LinuxPortLister::LinuxPortLister(const QString& sysfsRoot, HardwareDatabase hardwareDatabase,
                                 LinuxServicePaths services)
    : m_root(QFile::encodeName(sysfsRoot))
    , m_hardwareDatabase(std::move(hardwareDatabase))
    , m_services(std::move(services))
{
    while (m_root.endsWith('/'))
        m_root.chop(1);
}

LinuxPortLister::~LinuxPortLister() = default;

std::optional<QList<SerialPortInfo>> LinuxPortLister::listPorts()
{
    const QByteArray classDirectory = m_root + "/class/tty";
    const Directory directory(::opendir(classDirectory.constData()));
    if (!directory)
        return std::nullopt;
    // A typical machine has some 70 virtual consoles and pseudo-terminals; only devices with a
    // parent have a "device" link, so that link is tested before anything else is read.
    QList<QByteArray> names;
    int withoutDevice = 0;
    while (const dirent* entry = ::readdir(directory.get())) {
        const QByteArray name(entry->d_name);
        if (name.startsWith('.'))
            continue;
        if (::faccessat(::dirfd(directory.get()), (name + "/device").constData(), F_OK,
                        AT_SYMLINK_NOFOLLOW) == 0)
            names.append(name);
        else
            ++withoutDevice;
    }
    qCDebug(portTrace).noquote()
        << u"left out %1 ttys without a device (consoles, pseudo-terminals)"_s.arg(withoutDevice);
    // In kernel-name order, whatever order the directory was read in.
    std::sort(names.begin(), names.end());

    QList<SerialPortInfo> ports;
    for (const QByteArray& name : std::as_const(names)) {
        if (std::optional<SerialPortInfo> port = readPort(classDirectory, name))
            ports.append(std::move(*port));
    }
    return ports;
}

std::optional<SerialPortInfo> LinuxPortLister::readPort(const QByteArray& classDirectory,
                                                        const QByteArray& ttyName) const
{
    const QByteArray entry = classDirectory + '/' + ttyName;
    const std::optional<QByteArray> target = readLink(entry);
    const QByteArray device = target ? resolveLink(classDirectory, *target) : entry;
    const QByteArray node = ueventValue(device, "DEVNAME");
    if (node.isEmpty()) {
        qCDebug(portTrace).noquote() << u"left out %1: its uevent names no device node"_s.arg(
            traceQuoted(QFile::decodeName(ttyName)));
        return std::nullopt;
    }

    QByteArray name = lastComponent(device);
    name.replace('!', '/');  // sysfs cannot hold a '/' in a name and writes '!' instead
    SerialPortInfo::Fields fields{.path = QFile::decodeName("/dev/" + node),
                                  .name = QFile::decodeName(name)};
    // The serial device itself carries no USB details; they live on its ancestors. Fields found
    // nearer the device are never replaced by those of a farther one.
    std::optional<QByteArray> ancestor = parentDevice(device);
    while (ancestor) {
        std::optional<QByteArray> parent = parentDevice(*ancestor);
        mergeUsbIdentity(*ancestor, parent, fields);
        if (isComplete(fields))
            break;
        ancestor = std::move(parent);
    }
    return SerialPortInfo(std::move(fields));
}

// The nearest folder above path that is a device (holds a uevent file), inside the root.
std::optional<QByteArray> LinuxPortLister::parentDevice(QByteArray path) const
{
    for (;;) {
        const qsizetype slash = path.lastIndexOf('/');
        if (slash <= m_root.size())
            return std::nullopt;
        path.truncate(slash);
        if (exists(path + "/uevent"))
            return path;
    }
}

void LinuxPortLister::mergeUsbIdentity(const QByteArray& device,
                                       const std::optional<QByteArray>& parent,
                                       SerialPortInfo::Fields& fields) const
{
    if (subsystemOf(device) != "usb")
        return;
    const QByteArray type = ueventValue(device, "DEVTYPE");
    if (type == "usb_interface") {
        if (fields.product.isEmpty())
            fields.product = readText(device, "interface").value_or(QString());
        return;
    }
    if (type != "usb_device")
        return;

    // Hubs lend no names: the root hub standing for a host controller (the device right below a
    // non-USB parent) names the kernel's driver ("Linux 6.1.0 xhci-hcd"), an external hub its own
    // maker, never the adapter plugged into it.
    constexpr QByteArrayView hubClass = "09";
    const QByteArray deviceClass = readAttribute(device + "/bDeviceClass").value_or(QByteArray());
    const bool isHub =
        deviceClass.trimmed() == hubClass || !parent || subsystemOf(*parent) != "usb";
    const bool needsNames = !isHub && (fields.vendor.isEmpty() || fields.product.isEmpty());

    // The device's idVendor and idProduct, read only for what is still missing.
    std::optional<quint16> idVendor;
    std::optional<quint16> idProduct;
    if (!fields.vendorID || needsNames)
        idVendor = readHexNumber(device, "idVendor");
    if (!fields.productID || needsNames)
        idProduct = readHexNumber(device, "idProduct");
    if (!fields.vendorID && idVendor)
        fields.vendorID = *idVendor;
    if (!fields.productID && idProduct)
        fields.productID = *idProduct;
    if (!needsNames)
        return;

    // A string the device reports decides even when it is empty; the database is asked only for
    // what the device leaves out, and at most once.
    std::optional<UsbNames> database;
    const auto fromDatabase = [&]() -> const UsbNames& {
        if (!database) {
            database = idVendor && idProduct && m_hardwareDatabase
                           ? m_hardwareDatabase(*idVendor, *idProduct)
                           : UsbNames{};
        }
        return *database;
    };
    if (fields.vendor.isEmpty()) {
        const std::optional<QString> manufacturer = readText(device, "manufacturer");
        fields.vendor = manufacturer ? *manufacturer : fromDatabase().vendor;
    }
    if (fields.product.isEmpty()) {
        const std::optional<QString> product = readText(device, "product");
        fields.product = product ? *product : fromDatabase().product;
    }
}

QList<PortlessAdapter> LinuxPortLister::listPortlessAdapters()
{
    return LinuxAdapterScan(m_root, m_hardwareDatabase, m_services).adaptersWithoutPort();
}

std::unique_ptr<PortWatch> LinuxPortLister::watchPorts()
{
    std::unique_ptr<UdevMonitor> monitor = UdevMonitor::open();
    if (!monitor)
        return nullptr;
    return std::make_unique<LinuxPortWatch>(std::move(monitor));
}

std::unique_ptr<PortLister> createPlatformPortLister()
{
    auto database = std::make_shared<const LinuxHardwareDatabase>();
    return std::make_unique<LinuxPortLister>(u"/sys"_s,
                                             [database](quint16 vendorId, quint16 productId) {
                                                 return database->usbNames(vendorId, productId);
                                             });
}

}  // namespace tavix
