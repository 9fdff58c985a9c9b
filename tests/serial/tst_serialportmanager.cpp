#include "serial/SerialPortManager.h"
#include "support/FakeRegistry.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

QStringList pathsOf(const QList<SerialPortInfo>& ports)
{
    QStringList paths;
    for (const SerialPortInfo& info : ports)
        paths.append(info.path());
    return paths;
}

}  // namespace

class TestSerialPortManager : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_devDirectory;
    FakeRegistry* m_registry = nullptr;
    std::unique_ptr<SerialPortManager> m_manager;

    void makeDevEntries(const QStringList& names)
    {
        for (const QString& name : names) {
            QFile file(m_devDirectory->filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
    }

private Q_SLOTS:
    void init()
    {
        m_devDirectory = std::make_unique<QTemporaryDir>();
        QVERIFY(m_devDirectory->isValid());
        auto registry = std::make_unique<FakeRegistry>();
        m_registry = registry.get();
        m_manager =
            std::make_unique<SerialPortManager>(std::move(registry), m_devDirectory->path());
    }

    void cleanup()
    {
        QCOMPARE(m_registry->openHandles(), 0);
        QCOMPARE(m_registry->doubleReleases(), 0);
        QCOMPARE(m_registry->unknownReleases(), 0);
        QCOMPARE(m_registry->badUses(), 0);
        m_manager.reset();
        m_registry = nullptr;
        m_devDirectory.reset();
    }

    void startsEmpty() { QVERIFY(m_manager->ports().isEmpty()); }

    void supportedPorts_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("vendor");
        QTest::addColumn<QString>("product");
        QTest::addColumn<qint64>("vendorID");  // 0: absent
        QTest::addColumn<bool>("supported");

        QTest::newRow("on-board port without USB")
            << u"/dev/ttyS0"_s << QString() << QString() << qint64(0) << false;
        QTest::newRow("silicon labs id, no names")
            << u"/dev/ttyUSB0"_s << QString() << QString() << qint64(0x10C4) << true;
        QTest::newRow("espressif id")
            << u"/dev/ttyACM0"_s << QString() << QString() << qint64(0x303A) << true;
        QTest::newRow("wch id") << u"/dev/ttyUSB0"_s << QString() << u"USB Serial"_s
                                << qint64(0x1A86) << true;
        QTest::newRow("ftdi id") << u"/dev/ttyUSB0"_s << QString() << QString() << qint64(0x0403)
                                 << true;
        QTest::newRow("unknown id, no keyword")
            << u"/dev/ttyUSB3"_s << u"Prolific Technology Inc."_s << u"USB-Serial Controller"_s
            << qint64(0x067B) << false;
        QTest::newRow("unknown id, esp32 in any case")
            << u"/dev/ttyACM0"_s << QString() << u"My Esp32-S3 Board"_s << qint64(0x1234) << true;
        QTest::newRow("keyword across the blank")
            << u"/dev/ttyUSB0"_s << u"Silicon"_s << u"Labs Bridge"_s << qint64(0) << true;
        QTest::newRow("keyword across an empty field")
            << u"/dev/ttyUSB0"_s << u"Silicon"_s << QString() << qint64(0) << false;
        QTest::newRow("ftdi name")
            << u"/dev/ttyUSB0"_s << u"FTDI"_s << QString() << qint64(0) << true;
        QTest::newRow("m5stack name")
            << u"/dev/ttyACM0"_s << u"M5Stack"_s << u"Core2"_s << qint64(0) << true;
        QTest::newRow("chip name")
            << u"/dev/ttyUSB0"_s << QString() << u"CH340 serial"_s << qint64(0) << true;
        QTest::newRow("keyword in path")
            << u"/dev/ttyCH341USB0"_s << QString() << QString() << qint64(0) << true;
        QTest::newRow("serial is no keyword")
            << u"/dev/ttyUSB0"_s << QString() << u"USB Serial"_s << qint64(0) << false;
    }

    void supportedPorts()
    {
        QFETCH(QString, path);
        QFETCH(QString, vendor);
        QFETCH(QString, product);
        QFETCH(qint64, vendorID);
        QFETCH(bool, supported);

        const std::optional<qint64> id = vendorID ? std::optional<qint64>(vendorID) : std::nullopt;
        const SerialPortInfo info({.path = path,
                                   .name = path.section(u'/', -1),
                                   .vendor = vendor,
                                   .product = product,
                                   .vendorID = id});
        QCOMPARE(m_manager->isSupportedPort(info), supported);

        m_registry->addUsbSerialAdapter({path, vendor, product, id});
        QCOMPARE(m_manager->scanPorts().size(), supported ? 1 : 0);
    }

    void pathsOutsideDevAreNeverListed()
    {
        m_registry->addUsbSerialAdapter(
            {u"/run/serial/ttyUSB0"_s, u"Espressif"_s, u"ESP32"_s, 0x303A});
        m_registry->addUsbSerialAdapter({u"ttyUSB1"_s, {}, {}, 0x10C4});
        QVERIFY(m_manager->scanPorts().isEmpty());
    }

    void scanFiltersAndSortsByPath()
    {
        m_registry->addUsbSerialAdapter(
            {u"/dev/ttyUSB10"_s, u"Silicon Labs"_s, u"CP2102"_s, 0x10C4});
        m_registry->addUsbSerialAdapter({u"/dev/ttyS0"_s, {}, {}, {}});
        m_registry->addUsbSerialAdapter({u"/dev/ttyUSB2"_s, {}, u"USB Serial"_s, 0x1A86});
        m_registry->addUsbSerialAdapter({u"/dev/ttyACM0"_s, u"Espressif"_s, u"USB JTAG"_s, 0x303A});
        m_registry->addUsbSerialAdapter({u"/dev/ttyUSB3"_s, u"Prolific"_s, {}, 0x067B});

        const QList<SerialPortInfo> ports = m_manager->scanPorts();

        QCOMPARE(pathsOf(ports),
                 (QStringList{u"/dev/ttyACM0"_s, u"/dev/ttyUSB2"_s, u"/dev/ttyUSB10"_s}));
        QCOMPARE(ports.at(2).vendor(), u"Silicon Labs"_s);
        QVERIFY(m_manager->ports().isEmpty());  // scanning publishes nothing
    }

    void noSerialDevicesMeansNoDirectoryRead()
    {
        makeDevEntries({u"ttyUSB0"_s, u"ttyACM0"_s});

        m_manager->refreshPorts();

        QVERIFY(m_manager->ports().isEmpty());
        QCOMPARE(m_registry->enumerations(), 1);
    }

    void unavailableRegistryFallsBackToDirectory()
    {
        makeDevEntries({u"ttyUSB10"_s, u"ttyS0"_s, u"tty0"_s, u"ttyACM1"_s, u"ttyUSB2"_s,
                        u"ttyprintk"_s, u"TTYUSB5"_s, u"cu.usbmodem1101"_s, u"video0"_s,
                        u"ttyUSB3"_s, u".ttyUSB9"_s});
        m_registry->addUsbSerialAdapter({u"/dev/ttyUSB7"_s, u"Espressif"_s, u"ESP32"_s, 0x303A});
        m_registry->setUnavailable(true);

        m_manager->refreshPorts();

        const QString dir = m_devDirectory->path() + u'/';
        const QList<SerialPortInfo> ports = m_manager->ports();
        QCOMPARE(pathsOf(ports), (QStringList{dir + u"ttyACM1"_s, dir + u"ttyUSB2"_s,
                                              dir + u"ttyUSB3"_s, dir + u"ttyUSB10"_s}));
        const SerialPortInfo& first = ports.at(0);
        QCOMPARE(first.id(), first.path());
        QCOMPARE(first.name(), u"ttyACM1"_s);
        QVERIFY(first.vendor().isEmpty());
        QVERIFY(first.product().isEmpty());
        QVERIFY(!first.vendorID().has_value());
        QVERIFY(!first.productID().has_value());
    }

    void fallbackIgnoresVendorKeywords()
    {
        // "ttyUSB3" of a vendor outside the list is dropped by the registry path but kept by the
        // fallback, which judges names only.
        makeDevEntries({u"ttyUSB3"_s});
        m_registry->addUsbSerialAdapter(
            {u"/dev/ttyUSB3"_s, u"Prolific"_s, u"USB-Serial"_s, 0x067B});
        QVERIFY(m_manager->scanPorts().isEmpty());

        m_registry->setUnavailable(true);
        QCOMPARE(m_manager->scanPorts().size(), 1);
    }

    void unreadableDirectoryListsNothing()
    {
        auto registry = std::make_unique<FakeRegistry>();
        registry->setUnavailable(true);
        const SerialPortManager manager(std::move(registry),
                                        m_devDirectory->filePath(u"missing"_s));
        QVERIFY(manager.scanDevDirectory().isEmpty());
        QVERIFY(manager.scanPorts().isEmpty());
    }

    void everyRefreshNotifies()
    {
        m_registry->addUsbSerialAdapter({u"/dev/ttyUSB0"_s, {}, {}, 0x10C4});
        QSignalSpy spy(m_manager.get(), &SerialPortManager::portsChanged);

        m_manager->refreshPorts();
        const QList<SerialPortInfo> first = m_manager->ports();
        m_manager->refreshPorts();

        QCOMPARE(spy.count(), 2);
        QCOMPARE(m_manager->ports(), first);
        QCOMPARE(m_registry->enumerations(), 2);
    }

    void refreshFollowsPlugAndUnplug()
    {
        QSignalSpy spy(m_manager.get(), &SerialPortManager::portsChanged);
        m_manager->refreshPorts();
        QVERIFY(m_manager->ports().isEmpty());

        m_registry->addUsbSerialAdapter({u"/dev/ttyUSB1"_s, {}, {}, 0x10C4});
        m_registry->addUsbSerialAdapter({u"/dev/ttyUSB0"_s, {}, {}, 0x1A86});
        m_manager->refreshPorts();
        QCOMPARE(pathsOf(m_manager->ports()), (QStringList{u"/dev/ttyUSB0"_s, u"/dev/ttyUSB1"_s}));

        m_registry->setUnavailable(true);
        m_manager->refreshPorts();
        QVERIFY(m_manager->ports().isEmpty());
        QCOMPARE(spy.count(), 3);
    }

    void portsIsANotifyingProperty()
    {
        m_registry->addUsbSerialAdapter({u"/dev/ttyUSB0"_s, {}, {}, 0x10C4});
        QSignalSpy spy(m_manager.get(), &SerialPortManager::portsChanged);
        m_manager->refreshPorts();

        QCOMPARE(spy.count(), 1);
        const QVariant value = m_manager->property("ports");
        QVERIFY(value.isValid());
        QCOMPARE(value.value<QList<SerialPortInfo>>(), m_manager->ports());
    }
};

QTEST_GUILESS_MAIN(TestSerialPortManager)
#include "tst_serialportmanager.moc"
