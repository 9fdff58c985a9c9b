#include "serial/LinuxHardwareDatabase.h"
#include "serial/LinuxPortLister.h"
#include "support/FakeSysfs.h"

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

    void findsEachPortsIdentity_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("vendor");
        QTest::addColumn<QString>("product");
        QTest::addColumn<qint64>("vendorID");  // -1: absent
        QTest::addColumn<qint64>("productID");

        QTest::newRow("CP2102, its interface named nearer than the device")
            << u"ttyUSB0"_s << u"Silicon Labs"_s << u"CP2102 Interface"_s << 0x10C4LL << 0xEA60LL;
        QTest::newRow("ESP32-S3 built-in USB serial")
            << u"ttyACM0"_s << u"Espressif"_s << u"USB JTAG/serial debug unit"_s << 0x303ALL
            << 0x1001LL;
        QTest::newRow("FTDI") << u"ttyUSB1"_s << u"FTDI"_s << u"FT232R USB UART"_s << 0x0403LL
                              << 0x6001LL;
        QTest::newRow("CH340 without manufacturer")
            << u"ttyUSB2"_s << u"QinHeng Electronics"_s << u"USB Serial"_s << 0x1A86LL << 0x7523LL;
        QTest::newRow("CH340 naming nothing")
            << u"ttyUSB3"_s << u"QinHeng Electronics"_s << u"CH340 serial converter"_s << 0x1A86LL
            << 0x7523LL;
        QTest::newRow("product without vendor behind hubs, which lend none")
            << u"ttyACM1"_s << QString() << u"USB Single Serial"_s << 0x1A86LL << 0x55D4LL;
        QTest::newRow("board port without USB")
            << u"ttyS0"_s << QString() << QString() << -1LL << -1LL;
    }

    void findsEachPortsIdentity()
    {
        QFETCH(QString, name);
        QFETCH(QString, vendor);
        QFETCH(QString, product);
        QFETCH(qint64, vendorID);
        QFETCH(qint64, productID);

        const auto port =
            std::find_if(m_ports.cbegin(), m_ports.cend(),
                         [&name](const SerialPortInfo& p) { return p.name() == name; });
        QVERIFY(port != m_ports.cend());
        QCOMPARE(port->path(), u"/dev/"_s + name);
        QCOMPARE(port->vendor(), vendor);
        QCOMPARE(port->product(), product);
        QCOMPARE(port->vendorID().value_or(-1), vendorID);
        QCOMPARE(port->productID().value_or(-1), productID);
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
        sysfs.unplug(adapter);
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
