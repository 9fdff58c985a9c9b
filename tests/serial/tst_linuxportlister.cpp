#include "serial/LinuxHardwareDatabase.h"
#include "serial/LinuxPortLister.h"
#include "support/FakeSysfs.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>

using namespace Qt::StringLiterals;

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
        m_sysfs.addUsbSerial(
            m_sysfs.addUsbDevice(rootHub, 3, {"0403", "6001", u"FTDI"_s, u"FT232R USB UART"_s}),
            u"ttyUSB1"_s);
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

    void listsTtysWithADeviceInKernelNameOrder()
    {
        QStringList names;
        for (const SerialPortInfo& port : std::as_const(m_ports))
            names.append(port.name());
        QCOMPARE(names, (QStringList{u"ttyACM0"_s, u"ttyACM1"_s, u"ttyS0"_s, u"ttyUSB0"_s,
                                     u"ttyUSB1"_s, u"ttyUSB2"_s, u"ttyUSB3"_s}));
    }

    // Path | vendor | product | vendor ID:product ID, "-" for an absent ID.
    void findsEachPortsIdentity_data()
    {
        QTest::addColumn<QString>("identity");
        QTest::newRow("CP2102, its interface named nearer than the device")
            << u"/dev/ttyUSB0 | Silicon Labs | CP2102 Interface | 10c4:ea60"_s;
        QTest::newRow("ESP32-S3 built-in USB serial")
            << u"/dev/ttyACM0 | Espressif | USB JTAG/serial debug unit | 303a:1001"_s;
        QTest::newRow("FTDI") << u"/dev/ttyUSB1 | FTDI | FT232R USB UART | 403:6001"_s;
        QTest::newRow("CH340 without manufacturer")
            << u"/dev/ttyUSB2 | QinHeng Electronics | USB Serial | 1a86:7523"_s;
        QTest::newRow("CH340 naming nothing")
            << u"/dev/ttyUSB3 | QinHeng Electronics | CH340 serial converter | 1a86:7523"_s;
        QTest::newRow("product without vendor behind hubs, which lend none")
            << u"/dev/ttyACM1 |  | USB Single Serial | 1a86:55d4"_s;
        QTest::newRow("board port without USB") << u"/dev/ttyS0 |  |  | -:-"_s;
    }
    void findsEachPortsIdentity()
    {
        QFETCH(QString, identity);
        const QString path = identity.section(u' ', 0, 0);
        const auto port =
            std::find_if(m_ports.cbegin(), m_ports.cend(),
                         [&path](const SerialPortInfo& p) { return p.path() == path; });
        QVERIFY(port != m_ports.cend());
        const auto id = [](std::optional<qint64> value) {
            return value ? QString::number(*value, 16) : u"-"_s;
        };
        QCOMPARE(QStringList({port->path(), port->vendor(), port->product(),
                              id(port->vendorID()) + u':' + id(port->productID())})
                     .join(u" | "_s),
                 identity);
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

    void cannotListWithoutTheTtyClass()
    {
        QVERIFY(!LinuxPortLister(m_sysfs.root() + u"/devices"_s, fakeDatabase).listPorts());
    }

    void asksTheDatabaseByItsUsbKey()
    {
        QCOMPARE(LinuxHardwareDatabase::usbModalias(0x1a86, 0x7523), "usb:v1A86p7523"_ba);
        QCOMPARE(LinuxHardwareDatabase::usbModalias(0x403, 0x6001), "usb:v0403p6001"_ba);
    }

    void readsThisMachinesSysfs()
    {
        if (!QFileInfo::exists(u"/sys/class/tty"_s))
            QSKIP("No sysfs here (a chroot, for instance).");
        const std::optional<QList<SerialPortInfo>> ports = createPlatformPortLister()->listPorts();
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
