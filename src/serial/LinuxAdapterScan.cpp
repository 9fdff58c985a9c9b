#include "serial/LinuxAdapterScan.h"

#include <QDir>
#include <QFile>

#include <array>

using namespace Qt::StringLiterals;

namespace tavix {

using namespace sysfs;

namespace {

constexpr quint16 communicationsClass = 0x02;
constexpr quint16 abstractControlModel = 0x02;
constexpr quint16 vendorSpecificClass = 0xff;
constexpr QByteArrayView hubClass = "09";

// The IDs the kernel's ch341 driver takes; WCH's other chips (CH9102, CH343) speak CDC-ACM.
constexpr std::array<quint16, 4> ch341Products{0x5523, 0x7522, 0x7523, 0xe523};

// A folder under a USB interface that holds a tty: "tty" itself for CDC-ACM
// (1-2:1.0/tty/ttyACM0), a usb-serial port's for the bridges (1-2:1.0/ttyUSB0/tty/ttyUSB0).
bool hasTty(const QByteArray& interface)
{
    if (exists(interface + "/tty"))
        return true;
    const QList<QByteArray> entries = folderEntries(interface);
    for (const QByteArray& entry : entries) {
        if (entry.startsWith("tty") && exists(interface + '/' + entry + "/tty"))
            return true;
    }
    return false;
}

}  // namespace

LinuxAdapterScan::LinuxAdapterScan(QByteArray sysfsRoot, UsbHardwareDatabase hardwareDatabase,
                                   LinuxServicePaths services)
    : m_root(std::move(sysfsRoot))
    , m_hardwareDatabase(std::move(hardwareDatabase))
    , m_services(std::move(services))
{}

QString LinuxAdapterScan::serialDriverFor(quint16 vendorId, quint16 productId,
                                          quint16 interfaceClass, quint16 interfaceSubClass)
{
    if (interfaceClass == communicationsClass && interfaceSubClass == abstractControlModel)
        return u"cdc_acm"_s;
    if (interfaceClass != vendorSpecificClass)
        return {};
    switch (vendorId) {
    case 0x1a86:
        return std::find(ch341Products.cbegin(), ch341Products.cend(), productId) !=
                       ch341Products.cend()
                   ? u"ch341"_s
                   : QString();
    case 0x10c4:
        return u"cp210x"_s;
    case 0x0403:
        return u"ftdi_sio"_s;
    default:
        // Espressif's vendor-specific interface is its JTAG, which no serial driver takes.
        return {};
    }
}

QList<PortlessAdapter> LinuxAdapterScan::adaptersWithoutPort() const
{
    // The kernel links every USB device and interface here: "1-2", "1-2:1.0", "usb1".
    const QByteArray devices = m_root + "/bus/usb/devices";
    QList<PortlessAdapter> adapters;
    const QList<QByteArray> names = folderEntries(devices);
    for (const QByteArray& name : names) {
        if (name.contains(':'))
            continue;
        const std::optional<QByteArray> target = readLink(devices + '/' + name);
        if (!target)
            continue;
        if (std::optional<PortlessAdapter> adapter = inspect(resolveLink(devices, *target), name))
            adapters.append(std::move(*adapter));
    }
    return adapters;
}

std::optional<PortlessAdapter> LinuxAdapterScan::inspect(const QByteArray& device,
                                                         const QByteArray& name) const
{
    if (readAttribute(device + "/bDeviceClass").value_or(QByteArray()).trimmed() == hubClass)
        return std::nullopt;
    const std::optional<quint16> vendorId = readHexNumber(device, "idVendor");
    const std::optional<quint16> productId = readHexNumber(device, "idProduct");
    if (!vendorId || !productId)
        return std::nullopt;

    // Any tty means the adapter has its port, perhaps on another of its interfaces.
    std::optional<QByteArray> serialInterface;
    QString expectedDriver;
    const QList<QByteArray> entries = folderEntries(device);
    for (const QByteArray& entry : entries) {
        if (!entry.startsWith(name + ':'))
            continue;
        const QByteArray interface = device + '/' + entry;
        if (hasTty(interface))
            return std::nullopt;
        if (serialInterface)
            continue;
        expectedDriver = serialDriverFor(
            *vendorId, *productId, readHexNumber(interface, "bInterfaceClass").value_or(0),
            readHexNumber(interface, "bInterfaceSubClass").value_or(0));
        if (!expectedDriver.isEmpty())
            serialInterface = interface;
    }
    if (!serialInterface)
        return std::nullopt;
    const QString boundDriver = QFile::decodeName(
        lastComponent(readLink(*serialInterface + "/driver").value_or(QByteArray())));
    if (boundDriver == expectedDriver)
        return std::nullopt;

    PortlessAdapter adapter{.location = QFile::decodeName(name),
                            .vendorId = *vendorId,
                            .productId = *productId,
                            .interfaceName = QFile::decodeName(lastComponent(*serialInterface)),
                            .expectedDriver = expectedDriver,
                            .boundDriver = boundDriver};
    // A string the device reports decides even when empty; the database fills in the rest.
    const std::optional<QString> manufacturer = readText(device, "manufacturer");
    const std::optional<QString> product = readText(device, "product");
    const UsbNames known = (!manufacturer || !product) && m_hardwareDatabase
                               ? m_hardwareDatabase(*vendorId, *productId)
                               : UsbNames{};
    adapter.vendor = manufacturer.value_or(known.vendor);
    adapter.product = product.value_or(known.product);
    if (boundDriver == u"usbfs"_s) {
        adapter.claimedBy = runningServiceNamed(u"brltty"_s);
        if (!adapter.claimedBy.isEmpty())
            adapter.serviceRule = udevRuleOf(adapter.claimedBy);
    }
    return adapter;
}

// Process names are readable for everybody's processes, unlike their open files: a service
// running as root is seen running, but not seen holding the device.
QString LinuxAdapterScan::runningServiceNamed(const QString& program) const
{
    const QByteArray procfs = QFile::encodeName(m_services.procfs);
    const QList<QByteArray> entries = folderEntries(procfs);
    for (const QByteArray& entry : entries) {
        bool isProcess = false;
        entry.toLongLong(&isProcess);
        if (isProcess &&
            readAttribute(procfs + '/' + entry + "/comm") == QFile::encodeName(program))
            return program;
    }
    return {};
}

QString LinuxAdapterScan::udevRuleOf(const QString& program) const
{
    for (const QString& folder : m_services.udevRules) {
        const QStringList rules =
            QDir(folder).entryList({u"*"_s + program + u"*.rules"_s}, QDir::Files, QDir::Name);
        if (!rules.isEmpty())
            return rules.constFirst();
    }
    return {};
}

}  // namespace tavix
