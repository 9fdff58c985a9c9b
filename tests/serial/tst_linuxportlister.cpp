#include "serial/LinuxHardwareDatabase.h"
#include "serial/LinuxPortLister.h"
#include "serial/LinuxPortWatch.h"
#include "support/FakeDeviceEvents.h"
#include "support/FakeProcfs.h"
#include "support/FakeSysfs.h"

#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTest>

#include <linux/netlink.h>
#include <memory>
#include <sys/socket.h>

using namespace Qt::StringLiterals;

using tavix::LinuxPortLister;
using tavix::PortlessAdapter;
using tavix::SerialPortInfo;
using tavix::UsbNames;
using OptionalId = std::optional<qint64>;
Q_DECLARE_METATYPE(OptionalId)
using SharedSysfs = std::shared_ptr<FakeSysfs>;
using SharedProcfs = std::shared_ptr<FakeProcfs>;
Q_DECLARE_METATYPE(SharedSysfs)
Q_DECLARE_METATYPE(SharedProcfs)

namespace {

// Knows one adapter, as the hardware database of a desktop system does.
UsbNames fakeDatabase(quint16 vendorId, quint16 productId)
{
    if (vendorId == 0x1a86 && productId == 0x7523)
        return {u"QinHeng Electronics"_s, u"CH340 serial converter"_s};
    return {};
}

}  // namespace

class TestLinuxPortLister : public QObject
{
    Q_OBJECT

private:
    FakeSysfs m_sysfs;
    QList<SerialPortInfo> m_ports;

private Q_SLOTS:
    // One machine with every kind of port plugged in.
    void initTestCase()
    {
        const QString rootHub = m_sysfs.addRootHub(1);
        m_sysfs.addUsbSerial(m_sysfs.addUsbDevice(rootHub, 1,
                                                  {"10c4", "ea60", u"Silicon Labs"_s,
                                                   u"CP2102 USB to UART Bridge Controller"_s,
                                                   u"CP2102 Interface"_s}),
                             u"ttyUSB0"_s);
        m_sysfs.addUsbSerial(
            m_sysfs.addUsbDevice(rootHub, 2,
                                 {"303a", "1001", u"Espressif"_s, u"USB JTAG/serial debug unit"_s,
                                  std::nullopt, "ef"}),
            u"ttyACM0"_s);
        const FakeSysfs::UsbDevice hub{"05e3",          "0610",       u"GenesysLogic"_s,
                                       u"USB2.0 Hub"_s, std::nullopt, "09"};
        const QString nearHub = m_sysfs.addUsbDevice(m_sysfs.addUsbDevice(rootHub, 4, hub), 1, hub);
        m_sysfs.addUsbSerial(
            m_sysfs.addUsbDevice(nearHub, 2,
                                 {"1a86", "55d4", std::nullopt, u"USB Single Serial"_s}),
            u"ttyACM1"_s);
        m_sysfs.addUsbSerial(
            m_sysfs.addUsbDevice(rootHub, 5, {"1a86", "7523", std::nullopt, u"USB Serial"_s}),
            u"ttyUSB2"_s);
        m_sysfs.addUsbSerial(m_sysfs.addUsbDevice(rootHub, 6, {"1a86", "7523"}), u"ttyUSB3"_s);
        m_sysfs.addBoardSerial(u"ttyS0"_s);
        m_sysfs.addVirtualTty(u"tty0"_s);

        m_ports = LinuxPortLister(m_sysfs.root(), fakeDatabase).listPorts().value();
    }

    void listsTtysWithDevicesInKernelNameOrder()
    {
        QStringList names;
        for (const SerialPortInfo& port : std::as_const(m_ports))
            names.append(port.name());
        QCOMPARE(names, (QStringList{u"ttyACM0"_s, u"ttyACM1"_s, u"ttyS0"_s, u"ttyUSB0"_s,
                                     u"ttyUSB2"_s, u"ttyUSB3"_s}));
    }

    void findsEachPortsIdentity_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("vendor");
        QTest::addColumn<QString>("product");
        QTest::addColumn<OptionalId>("vendorId");
        QTest::addColumn<OptionalId>("productId");
        QTest::newRow("CP2102, its interface named nearer than the device")
            << u"/dev/ttyUSB0"_s << u"Silicon Labs"_s << u"CP2102 Interface"_s << OptionalId(0x10c4)
            << OptionalId(0xea60);
        QTest::newRow("ESP32-S3 built-in USB serial")
            << u"/dev/ttyACM0"_s << u"Espressif"_s << u"USB JTAG/serial debug unit"_s
            << OptionalId(0x303a) << OptionalId(0x1001);
        QTest::newRow("CH340 without manufacturer")
            << u"/dev/ttyUSB2"_s << u"QinHeng Electronics"_s << u"USB Serial"_s
            << OptionalId(0x1a86) << OptionalId(0x7523);
        QTest::newRow("CH340 naming nothing")
            << u"/dev/ttyUSB3"_s << u"QinHeng Electronics"_s << u"CH340 serial converter"_s
            << OptionalId(0x1a86) << OptionalId(0x7523);
        QTest::newRow("product without vendor behind hubs, which lend none")
            << u"/dev/ttyACM1"_s << QString() << u"USB Single Serial"_s << OptionalId(0x1a86)
            << OptionalId(0x55d4);
        QTest::newRow("board port without USB")
            << u"/dev/ttyS0"_s << QString() << QString() << OptionalId() << OptionalId();
    }
    void findsEachPortsIdentity()
    {
        QFETCH(QString, path);
        QFETCH(QString, vendor);
        QFETCH(QString, product);
        QFETCH(OptionalId, vendorId);
        QFETCH(OptionalId, productId);
        const auto port =
            std::find_if(m_ports.cbegin(), m_ports.cend(),
                         [&path](const SerialPortInfo& p) { return p.path() == path; });
        QVERIFY(port != m_ports.cend());
        QCOMPARE(port->vendor(), vendor);
        QCOMPARE(port->product(), product);
        QCOMPARE(port->vendorID(), vendorId);
        QCOMPARE(port->productID(), productId);
    }

    void readsAfreshEachTime()
    {
        FakeSysfs sysfs;
        LinuxPortLister lister(sysfs.root(), fakeDatabase);
        const auto listed = [&lister] {
            const std::optional<QList<SerialPortInfo>> ports = lister.listPorts();
            return ports ? ports->size() : -1;
        };
        QCOMPARE(listed(), 0);  // nothing plugged in: an empty list, not "cannot list"

        const QString adapter = sysfs.addUsbDevice(sysfs.addRootHub(2), 1, {"10c4", "ea60"});
        sysfs.addUsbSerial(adapter, u"ttyUSB4"_s);
        QCOMPARE(listed(), 1);
        QDir(adapter).removeRecursively();  // unplugged: the kernel takes both away
        QFile::remove(sysfs.root() + u"/class/tty/ttyUSB4"_s);
        QCOMPARE(listed(), 0);
    }

    // One adapter per row, plugged into a machine of its own; what the lister tells of it.
    void findsAdaptersWithoutPorts_data()
    {
        QTest::addColumn<SharedSysfs>("sysfs");
        QTest::addColumn<SharedProcfs>("procfs");
        QTest::addColumn<QList<PortlessAdapter>>("expected");

        const auto machine = [](const FakeSysfs::UsbDevice& device, const QString& driver,
                                const QString& tty = {}) {
            auto sysfs = std::make_shared<FakeSysfs>();
            const QString usb = sysfs->addUsbDevice(sysfs->addRootHub(1), 2, device);
            if (!driver.isEmpty())
                sysfs->bindInterface(usb, driver);
            if (!tty.isEmpty())
                sysfs->addUsbSerial(usb, tty);
            return sysfs;
        };
        const auto processes = [](const QByteArray& name) {
            auto procfs = std::make_shared<FakeProcfs>();
            procfs->addProcess(812, "systemd-logind");
            procfs->addProcess(1207, name);
            return procfs;
        };
        const FakeSysfs::UsbDevice ch340{"1a86", "7523", std::nullopt, u"USB Serial"_s};
        const PortlessAdapter held{.location = u"1-2"_s,
                                   .vendor = u"QinHeng Electronics"_s,
                                   .product = u"USB Serial"_s,
                                   .vendorId = 0x1a86,
                                   .productId = 0x7523,
                                   .interfaceName = u"1-2:1.0"_s,
                                   .expectedDriver = u"ch341"_s,
                                   .boundDriver = u"usbfs"_s};
        PortlessAdapter byBrltty = held;
        byBrltty.claimedBy = u"brltty"_s;
        byBrltty.serviceRule = u"85-brltty.rules"_s;
        PortlessAdapter noDriver = held;
        noDriver.boundDriver.clear();
        const PortlessAdapter cp2102{.location = u"1-2"_s,
                                     .vendor = u"Silicon Labs"_s,
                                     .product = u"CP2102"_s,
                                     .vendorId = 0x10c4,
                                     .productId = 0xea60,
                                     .interfaceName = u"1-2:1.0"_s,
                                     .expectedDriver = u"cp210x"_s,
                                     .boundDriver = u"usbhid"_s};
        const PortlessAdapter ch9102{.location = u"1-2"_s,
                                     .product = u"USB Single Serial"_s,
                                     .vendorId = 0x1a86,
                                     .productId = 0x55d4,
                                     .interfaceName = u"1-2:1.0"_s,
                                     .expectedDriver = u"cdc_acm"_s};

        QTest::newRow("CH340 that brltty took")
            << machine(ch340, u"usbfs"_s) << processes("brltty") << QList{byBrltty};
        QTest::newRow("CH340 claimed through usbfs by some program")
            << machine(ch340, u"usbfs"_s) << processes("openocd") << QList{held};
        QTest::newRow("CH340 without its driver")
            << machine(ch340, {}) << processes("brltty") << QList{noDriver};
        QTest::newRow("CP2102 that another driver took")
            << machine({"10c4", "ea60", u"Silicon Labs"_s, u"CP2102"_s}, u"usbhid"_s)
            << processes("bash") << QList{cp2102};
        QTest::newRow("CH9102 without cdc_acm")
            << machine({"1a86", "55d4", std::nullopt, u"USB Single Serial"_s, std::nullopt, "00",
                        "02", "02"},
                       {})
            << processes("bash") << QList{ch9102};
        // WCH's own driver makes ttyCH341USB0: a port all the same.
        QTest::newRow("CH340 with WCH's driver and its port")
            << machine(ch340, u"ch34x"_s, u"ttyCH341USB0"_s) << processes("brltty")
            << QList<PortlessAdapter>();
        QTest::newRow("CH340 whose driver is making its port")
            << machine(ch340, u"ch341"_s) << processes("bash") << QList<PortlessAdapter>();
        QTest::newRow("Espressif's JTAG interface, which no serial driver takes")
            << machine({"303a", "1001", u"Espressif"_s, u"USB JTAG/serial debug unit"_s}, {})
            << processes("bash") << QList<PortlessAdapter>();
        QTest::newRow("a CH341 in its parallel mode")
            << machine({"1a86", "5512"}, {}) << processes("bash") << QList<PortlessAdapter>();
    }
    void findsAdaptersWithoutPorts()
    {
        QFETCH(SharedSysfs, sysfs);
        QFETCH(SharedProcfs, procfs);
        QFETCH(QList<PortlessAdapter>, expected);
        // The rule in the vendor's folder, none in the administrator's.
        QTemporaryDir localRules;
        QTemporaryDir vendorRules;
        QFile rule(vendorRules.filePath(u"85-brltty.rules"_s));
        QVERIFY(rule.open(QIODevice::WriteOnly));
        const tavix::LinuxServicePaths services{procfs->root(),
                                                {localRules.path(), vendorRules.path()}};
        QCOMPARE(LinuxPortLister(sysfs->root(), fakeDatabase, services).listPortlessAdapters(),
                 expected);
    }

    // The real monitor: a netlink socket of kernel device events, watched on the main thread.
    // No udev daemon runs here to send anything on it.
    void watchesUdevsMonitor()
    {
        const std::unique_ptr<tavix::PortWatch> watch =
            tavix::createPlatformPortLister()->watchPorts();
        QVERIFY(watch);
        const auto* notifier = watch->findChild<QSocketNotifier*>(u"deviceEvents"_s);
        QVERIFY(notifier && notifier->isEnabled());
        QCOMPARE(notifier->type(), QSocketNotifier::Read);
        int protocol = 0;
        socklen_t size = sizeof protocol;
        QCOMPARE(::getsockopt(int(notifier->socket()), SOL_SOCKET, SO_PROTOCOL, &protocol, &size),
                 0);
        QCOMPARE(protocol, NETLINK_KOBJECT_UEVENT);
    }

    // Events as udev sends them, through the watch's descriptor: what is pending when it turns
    // readable is read at once and announced once.
    void announcesTtysThatComeAndGo_data()
    {
        QTest::addColumn<QByteArrayList>("actions");
        QTest::addColumn<QByteArrayList>("subsystems");
        QTest::addColumn<int>("announced");
        QTest::newRow("plugged in") << QByteArrayList{"add"} << QByteArrayList{"tty"} << 1;
        QTest::newRow("unplugged") << QByteArrayList{"remove"} << QByteArrayList{"tty"} << 1;
        QTest::newRow("three adapters behind a hub")
            << QByteArrayList{"add", "add", "add"} << QByteArrayList{"tty", "tty", "tty"} << 1;
        QTest::newRow("a port's settings changed")
            << QByteArrayList{"change"} << QByteArrayList{"tty"} << 0;
        QTest::newRow("a USB device without a port")
            << QByteArrayList{"add"} << QByteArrayList{"usb"} << 0;
    }
    void announcesTtysThatComeAndGo()
    {
        QFETCH(QByteArrayList, actions);
        QFETCH(QByteArrayList, subsystems);
        QFETCH(int, announced);
        auto events = std::make_unique<FakeDeviceEvents>();
        FakeDeviceEvents& source = *events;
        tavix::LinuxPortWatch watch(std::move(events));
        const QSignalSpy spy(&watch, &tavix::PortWatch::portsChanged);
        for (qsizetype i = 0; i < actions.size(); ++i)
            source.send(actions[i], subsystems[i]);
        QTRY_VERIFY(source.drained());
        QCOMPARE(spy.count(), announced);
    }

    void cannotListWithoutTheTtyClass()
    {
        QVERIFY(!LinuxPortLister(m_sysfs.root() + u"/devices"_s, fakeDatabase).listPorts());
    }

    void asksTheDatabaseByItsUsbKey()
    {
        QCOMPARE(tavix::LinuxHardwareDatabase::usbModalias(0x1a86, 0x7523), "usb:v1A86p7523"_ba);
        QCOMPARE(tavix::LinuxHardwareDatabase::usbModalias(0x403, 0x6001), "usb:v0403p6001"_ba);
    }

    void readsThisMachinesSysfs()
    {
        if (!QFileInfo::exists(u"/sys/class/tty"_s))
            QSKIP("No sysfs here (a chroot, for instance).");
        const std::optional<QList<SerialPortInfo>> ports =
            tavix::createPlatformPortLister()->listPorts();
        QVERIFY(ports.has_value());
        for (const SerialPortInfo& port : *ports) {
            QVERIFY2(QFileInfo::exists(u"/sys/class/tty/"_s + port.name() + u"/device"_s),
                     qPrintable(port.name()));
            QVERIFY2(QFileInfo::exists(port.path()), qPrintable(port.path()));
        }
    }
};

QTEST_GUILESS_MAIN(TestLinuxPortLister)
#include "tst_linuxportlister.moc"
