#include "serial/SerialPortDiscovery.h"
#include "serial/SerialPortManager.h"
#include "serial/UdevRegistry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// What sysfs itself says about the serial devices: kernel name -> device node, for every tty
// that has a parent device.
QHash<QString, QString> serialDevicesFromSysfs()
{
    QHash<QString, QString> nodes;
    const QDir ttyClass(u"/sys/class/tty"_s);
    const QStringList names = ttyClass.entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        if (!QFileInfo::exists(ttyClass.filePath(name + u"/device"_s)))
            continue;
        QFile uevent(ttyClass.filePath(name + u"/uevent"_s));
        if (!uevent.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> lines = uevent.readAll().split('\n');
        for (const QByteArray& line : lines) {
            if (line.startsWith("DEVNAME="))
                nodes.insert(name, u"/dev/"_s + QString::fromUtf8(line.mid(8)));
        }
    }
    return nodes;
}

bool hasUsbAncestry(const QString& kernelName)
{
    return QFileInfo(u"/sys/class/tty/"_s + kernelName).canonicalFilePath().contains(u"/usb"_s);
}

// Passes everything through to the real registry and keeps count of the handles.
class CountingRegistry final : public DeviceRegistry
{
public:
    explicit CountingRegistry(DeviceRegistry& inner)
        : m_inner(inner)
    {}

    std::optional<QList<RegistryHandle>> serialDevices() override
    {
        std::optional<QList<RegistryHandle>> devices = m_inner.serialDevices();
        if (devices) {
            for (const RegistryHandle handle : std::as_const(*devices))
                track(handle);
        }
        return devices;
    }
    std::optional<RegistryValue> property(RegistryHandle entry, QStringView key) override
    {
        if (!m_open.contains(entry))
            ++badUses;
        return m_inner.property(entry, key);
    }
    std::optional<RegistryHandle> parentEntry(RegistryHandle entry) override
    {
        if (!m_open.contains(entry))
            ++badUses;
        const std::optional<RegistryHandle> parent = m_inner.parentEntry(entry);
        if (parent)
            track(*parent);
        return parent;
    }
    void release(RegistryHandle handle) override
    {
        if (!m_open.remove(handle))
            ++badUses;
        m_inner.release(handle);
    }

    int openHandles() const { return int(m_open.size()); }
    int badUses = 0;

private:
    void track(RegistryHandle handle)
    {
        if (m_open.contains(handle))
            ++badUses;  // the same handle handed out twice while open
        m_open.insert(handle);
    }

    DeviceRegistry& m_inner;
    QSet<RegistryHandle> m_open;
};

}  // namespace

// Runs against this machine's real device registry.
class TestUdevRegistryLive : public QObject
{
    Q_OBJECT

private:
    QHash<QString, QString> m_expected;

private Q_SLOTS:
    void initTestCase()
    {
        m_expected = serialDevicesFromSysfs();
        if (m_expected.isEmpty())
            QSKIP("This machine has no serial device.");
    }

    void enumeratesTheSerialDevicesOfSysfs()
    {
        UdevRegistry udev;
        CountingRegistry registry(udev);
        const PortEnumeration enumeration = SerialPortDiscovery(registry).enumerateSerialPorts();

        QCOMPARE(enumeration.outcome, PortEnumeration::Outcome::listed);
        QHash<QString, QString> found;
        for (const SerialPortInfo& port : enumeration.ports)
            found.insert(port.name(), port.path());
        QCOMPARE(found, m_expected);

        QCOMPARE(registry.openHandles(), 0);
        QCOMPARE(registry.badUses, 0);
    }

    void portsWithoutUsbHaveNoUsbDetails()
    {
        UdevRegistry registry;
        const PortEnumeration enumeration = SerialPortDiscovery(registry).enumerateSerialPorts();
        int checked = 0;
        for (const SerialPortInfo& port : enumeration.ports) {
            if (hasUsbAncestry(port.name()))
                continue;
            QVERIFY2(port.vendor().isEmpty(), qPrintable(port.path()));
            QVERIFY2(port.product().isEmpty(), qPrintable(port.path()));
            QVERIFY(!port.vendorID().has_value());
            QVERIFY(!port.productID().has_value());
            ++checked;
        }
        if (checked == 0)
            QSKIP("Every serial device of this machine is on USB.");
    }

    void usbPortsCarryVendorIDs()
    {
        UdevRegistry registry;
        const PortEnumeration enumeration = SerialPortDiscovery(registry).enumerateSerialPorts();
        int checked = 0;
        for (const SerialPortInfo& port : enumeration.ports) {
            if (!hasUsbAncestry(port.name()))
                continue;
            QVERIFY2(port.vendorID().has_value(), qPrintable(port.path()));
            QVERIFY2(port.productID().has_value(), qPrintable(port.path()));
            ++checked;
        }
        if (checked == 0)
            QSKIP("No USB serial adapter is plugged in.");
    }

    void managerListsOnlySupportedPorts()
    {
        SerialPortManager manager;
        manager.refreshPorts();
        const QList<SerialPortInfo> listed = manager.ports();

        UdevRegistry registry;
        const PortEnumeration enumeration = SerialPortDiscovery(registry).enumerateSerialPorts();
        for (const SerialPortInfo& port : enumeration.ports) {
            const bool expected =
                PortNaming().isCalloutPath(port.path()) && manager.isSupportedPort(port);
            QVERIFY2(listed.contains(port) == expected, qPrintable(port.path()));
        }
        // On-board UARTs (ttyS0 on these machines) have neither a vendor ID nor a keyword.
        for (const SerialPortInfo& port : listed)
            QVERIFY2(!port.name().startsWith(u"ttyS"_s), qPrintable(port.path()));
    }

    void handlesAreIndependentAndReleasable()
    {
        UdevRegistry registry;
        const std::optional<QList<RegistryHandle>> devices = registry.serialDevices();
        QVERIFY(devices.has_value());
        QVERIFY(!devices->isEmpty());
        const RegistryHandle device = devices->first();

        // The walk releases a child before using its parent: the parent must stay valid.
        std::optional<RegistryHandle> current = registry.parentEntry(device);
        QVERIFY(current.has_value());
        int depth = 0;
        while (current) {
            const std::optional<RegistryHandle> parent = registry.parentEntry(*current);
            registry.release(*current);
            current = parent;
            QVERIFY(++depth < 64);
        }

        QVERIFY(registry.property(device, u"IOCalloutDevice").has_value());
        for (const RegistryHandle handle : *devices)
            registry.release(handle);
        QVERIFY(!registry.property(device, u"IOCalloutDevice").has_value());
        QVERIFY(!registry.parentEntry(device).has_value());
        registry.release(device);  // a second release is ignored
    }
};

QTEST_GUILESS_MAIN(TestUdevRegistryLive)
#include "tst_udevregistry_live.moc"
