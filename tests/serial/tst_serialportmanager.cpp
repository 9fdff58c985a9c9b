#include "serial/SerialPortManager.h"
#include "support/FakePortLister.h"

#include <QFile>
#include <QLoggingCategory>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

using tavix::PortlessAdapter;
using tavix::SerialPortInfo;
using tavix::SerialPortManager;
using Scheme = tavix::PortNaming::Scheme;
Q_DECLARE_METATYPE(Scheme)

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
    std::unique_ptr<QTemporaryDir> m_dev;
    FakePortLister* m_lister = nullptr;
    std::unique_ptr<SerialPortManager> m_manager;
    QtMessageHandler m_previousHandler = nullptr;

    // The port trace's lines, as a support request would show them.
    static inline QStringList traced;
    static void collectTrace(QtMsgType, const QMessageLogContext& context, const QString& line)
    {
        if (QByteArrayView(context.category) == "tavix.ports")
            traced.append(line);
    }

    void makeManager(Scheme scheme)
    {
        auto lister = std::make_unique<FakePortLister>();
        m_lister = lister.get();
        m_manager = std::make_unique<SerialPortManager>(std::move(lister), m_dev->path(),
                                                        tavix::PortNaming(scheme));
    }
    void makeDevEntries(const QStringList& names)
    {
        for (const QString& name : names) {
            QFile file(m_dev->filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
    }
    void plug(const QString& path, std::optional<qint64> vendorId = 0x10C4)
    {
        m_lister->ports.append(
            SerialPortInfo({.path = path, .name = path.section(u'/', -1), .vendorID = vendorId}));
    }

private Q_SLOTS:
    void init()
    {
        m_dev = std::make_unique<QTemporaryDir>();
        makeManager(Scheme::singleNode);
    }
    void cleanup()
    {
        QLoggingCategory::setFilterRules(QString());
        if (m_previousHandler)
            qInstallMessageHandler(std::exchange(m_previousHandler, nullptr));
    }

    // One row for each place a mark is found (vendor ID, or a keyword in the vendor, product, name
    // or path, read case-blind); near misses are not. knowsExactlyTheseMarks pins the marks.
    void listsWhatLooksLikeBoards_data()
    {
        QTest::addColumn<Scheme>("scheme");
        QTest::addColumn<SerialPortInfo>("port");
        QTest::addColumn<QStringList>("listed");  // the port's path, or nothing

        const auto reported = [](const char* tag, const SerialPortInfo::Fields& port, bool listed,
                                 Scheme scheme = Scheme::singleNode) {
            QTest::newRow(tag) << scheme << SerialPortInfo(port)
                               << (listed ? QStringList{port.path} : QStringList());
        };
        const QString usb0 = u"/dev/ttyUSB0"_s;
        reported("vendor Espressif", {.path = usb0, .vendorID = 0x303A}, true);
        reported("vendor near miss", {.path = usb0, .vendorID = 0x303B}, false);
        reported("vendor Prolific",
                 {.path = usb0,
                  .vendor = u"Prolific Technology Inc."_s,
                  .product = u"USB-Serial Controller"_s,
                  .vendorID = 0x067B},
                 false);
        reported("espressif", {.path = usb0, .vendor = u"Espressif Systems"_s}, true);
        reported("esp32", {.path = usb0, .product = u"My Esp32-S3 Board"_s}, true);
        reported("slab_usbtouart", {.path = u"/dev/SLAB_USBtoUART"_s}, true);
        reported("silicon labs across the blank",
                 {.path = usb0, .vendor = u"Silicon"_s, .product = u"Labs Bridge"_s}, true);
        reported("wchusbserial", {.path = usb0, .name = u"wchusbserial1410"_s}, true);
        reported("esp-32", {.path = usb0, .product = u"ESP-32 clone"_s}, false);
        reported("silicon labs across an empty field",
                 {.path = usb0, .name = u"Labs0"_s, .vendor = u"Silicon"_s}, false);
        reported("serial alone", {.path = usb0, .product = u"USB Serial"_s}, false);
        reported("board port", {.path = u"/dev/ttyS0"_s}, false);
        reported("outside /dev", {.path = u"/run/ttyUSB0"_s, .vendorID = 0x303A}, false);
        // macOS: only callout nodes.
        const Scheme mac = Scheme::calloutAndDialIn;
        reported("mac callout", {.path = u"/dev/cu.usbserial-0001"_s, .vendorID = 0x10C4}, true,
                 mac);
        reported("mac dial-in", {.path = u"/dev/tty.usbserial-0001"_s, .vendorID = 0x10C4}, false,
                 mac);
    }
    void listsWhatLooksLikeBoards()
    {
        QFETCH(Scheme, scheme);
        QFETCH(SerialPortInfo, port);
        QFETCH(QStringList, listed);
        makeManager(scheme);
        m_lister->ports = {port};
        QCOMPARE(pathsOf(m_manager->scanPorts()), listed);
    }

    // Entries of /dev, listed by name when the lister cannot list: a keyword of either scheme,
    // read case-blind after a case-sensitive prefix.
    void listsDevEntriesByName_data()
    {
        QTest::addColumn<Scheme>("scheme");
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QStringList>("listedAs");  // the port's name, or nothing

        const auto named = [](const char* tag, const QString& entry, const QString& listedAs,
                              Scheme scheme = Scheme::singleNode) {
            QTest::newRow(tag) << scheme << entry
                               << (listedAs.isEmpty() ? QStringList() : QStringList{listedAs});
        };
        named("usbserial", u"tty.usbserial-0001"_s, u"tty.usbserial-0001"_s);
        named("slab_usbtouart", u"tty.SLAB_USBtoUART"_s, u"tty.SLAB_USBtoUART"_s);
        named("ttyusb", u"ttyUSB0"_s, u"ttyUSB0"_s);
        named("board port", u"ttyS0"_s, {});
        named("console", u"tty0"_s, {});
        named("prefix is case-sensitive", u"TTYUSB0"_s, {});
        named("keyword without prefix", u"usbserial-0001"_s, {});
        // macOS: only callout nodes, named without their "cu.".
        const Scheme mac = Scheme::calloutAndDialIn;
        named("mac callout", u"cu.usbmodem1101"_s, u"usbmodem1101"_s, mac);
        named("mac dial-in", u"tty.usbmodem1101"_s, {}, mac);
        named("mac without keyword", u"cu.Bluetooth-Incoming-Port"_s, {}, mac);
        named("mac has no linux names", u"cu.ttyUSB0"_s, {}, mac);
    }
    void listsDevEntriesByName()
    {
        QFETCH(Scheme, scheme);
        QFETCH(QString, entry);
        QFETCH(QStringList, listedAs);
        makeManager(scheme);
        makeDevEntries({entry});
        m_lister->available = false;
        QStringList names;
        const QList<SerialPortInfo> ports = m_manager->scanPorts();
        for (const SerialPortInfo& port : ports) {
            names << port.name();
            QCOMPARE(port.path(), m_dev->filePath(entry));
        }
        QCOMPARE(names, listedAs);
    }

    // The rows above show each kind of mark at work; the marks are these, no more and no fewer:
    // one mistyped, dropped or added takes ports that are no board's or leaves boards out.
    void knowsExactlyTheseMarks()
    {
        QCOMPARE(m_manager->supportedVendorIDs(), (QSet<qint64>{0x303A, 0x10C4, 0x1A86, 0x0403}));
        QCOMPARE(m_manager->portKeywords(),
                 (QStringList{u"espressif"_s, u"esp32"_s, u"m5stack"_s, u"cp210"_s,
                              u"slab_usbtouart"_s, u"silicon labs"_s, u"wchusbserial"_s, u"ch340"_s,
                              u"ch341"_s, u"ch910"_s, u"ftdi"_s}));
        const QStringList shared{u"usbserial"_s, u"slab_usbtouart"_s, u"wchusbserial"_s,
                                 u"usbmodem"_s,  u"cp210"_s,          u"ch340"_s,
                                 u"ch341"_s,     u"ch910"_s};
        QCOMPARE(tavix::PortNaming(Scheme::calloutAndDialIn).devEntryKeywords(), shared);
        QCOMPARE(tavix::PortNaming(Scheme::singleNode).devEntryKeywords(),
                 (shared + QStringList{u"ttyusb"_s, u"ttyacm"_s}));
    }

    // Only when the lister cannot list; an empty listing is an answer.
    void listsDevByNameAsFallback()
    {
        makeDevEntries({u"ttyUSB10"_s, u"ttyACM0"_s, u"ttyUSB2"_s});
        QVERIFY(m_manager->scanPorts().isEmpty());
        m_lister->available = false;
        QCOMPARE(pathsOf(m_manager->scanPorts()),
                 (QStringList{m_dev->filePath(u"ttyACM0"_s), m_dev->filePath(u"ttyUSB2"_s),
                              m_dev->filePath(u"ttyUSB10"_s)}));
        QVERIFY(m_dev->remove());  // an unreadable directory lists nothing
        QVERIFY(m_manager->scanPorts().isEmpty());
    }

    void publishesEveryRefresh()
    {
        QSignalSpy spy(m_manager.get(), &SerialPortManager::portsChanged);
        QVERIFY(m_manager->ports().isEmpty());
        plug(u"/dev/ttyUSB1"_s);
        QCOMPARE(m_manager->scanPorts().size(), 1);
        QVERIFY(m_manager->ports().isEmpty());  // a scan alone publishes nothing
        QCOMPARE(spy.count(), 0);

        m_manager->refreshPorts();
        plug(u"/dev/ttyUSB10"_s, 0x1A86);
        plug(u"/dev/ttyACM0"_s, 0x303A);
        m_manager->refreshPorts();
        QCOMPARE(pathsOf(m_manager->ports()),
                 (QStringList{u"/dev/ttyACM0"_s, u"/dev/ttyUSB1"_s, u"/dev/ttyUSB10"_s}));
        m_manager->refreshPorts();  // nothing changed: published all the same
        QCOMPARE(spy.count(), 3);
        QCOMPARE(m_lister->listings, 4);
        QCOMPARE(m_manager->property("ports").value<QList<SerialPortInfo>>(), m_manager->ports());

        m_lister->ports.clear();
        m_manager->refreshPorts();
        QVERIFY(m_manager->ports().isEmpty());
    }

    // With QT_LOGGING_RULES="tavix.ports.debug=true" each port left out says why, in a line that
    // never reads as a flasher's progress; without, the trace is silent.
    void tracesEachPortItLeavesOut_data()
    {
        QTest::addColumn<SerialPortInfo>("port");
        QTest::addColumn<QStringList>("trace");
        QTest::newRow("listed") << SerialPortInfo({.path = u"/dev/ttyUSB0"_s, .vendorID = 0x10C4})
                                << QStringList();
        QTest::newRow("outside /dev")
            << SerialPortInfo({.path = u"/run/ttyUSB0"_s, .vendorID = 0x303A})
            << QStringList{u"left out \"/run/ttyUSB0\": not a device node that a flasher opens"_s};
        QTest::newRow("no board's")
            << SerialPortInfo({.path = u"/dev/ttyS0"_s, .name = u"ttyS0"_s})
            << QStringList{u"left out \"/dev/ttyS0\": its vendor ID (none) is none of the boards' "
                           "and no keyword is in \"  ttys0 /dev/ttys0\""_s};
        QTest::newRow("a percent sign in its name")
            << SerialPortInfo({.path = u"/dev/ttyUSB3"_s,
                               .name = u"ttyUSB3"_s,
                               .vendor = u"100% Serial"_s,
                               .vendorID = 0x067B})
            << QStringList{u"left out \"/dev/ttyUSB3\": its vendor ID (067b) is none of the "
                           "boards' and no keyword is in \"100(percent) serial  ttyusb3 "
                           "/dev/ttyusb3\""_s};
    }
    void tracesEachPortItLeavesOut()
    {
        QFETCH(SerialPortInfo, port);
        QFETCH(QStringList, trace);
        m_lister->ports = {port};
        traced.clear();
        m_previousHandler = qInstallMessageHandler(collectTrace);
        m_manager->scanPorts();
        QVERIFY(traced.isEmpty());

        QLoggingCategory::setFilterRules(u"tavix.ports.debug=true"_s);
        m_manager->scanPorts();
        QCOMPARE(traced, trace);
    }

    // Refreshes at the given times, with the adapter seen at each (0 or 1 of it): whether it is
    // told of after each. It must pass the port filter, and have been seen for a second on end.
    void tellsOfAdaptersWithoutPorts_data()
    {
        QTest::addColumn<PortlessAdapter>("adapter");
        QTest::addColumn<QList<int>>("refreshesAtMs");
        QTest::addColumn<QList<qsizetype>>("seen");
        QTest::addColumn<QList<bool>>("told");

        const PortlessAdapter ch340{.location = u"1-2"_s,
                                    .vendorId = 0x1a86,
                                    .productId = 0x7523,
                                    .expectedDriver = u"ch341"_s,
                                    .boundDriver = u"usbfs"_s};
        QTest::newRow("two refreshes, two seconds apart")
            << ch340 << QList{0, 2000} << QList<qsizetype>{1, 1} << QList{false, true};
        QTest::newRow("less than a second")
            << ch340 << QList{0, 500, 999} << QList<qsizetype>{1, 1, 1}
            << QList{false, false, false};
        QTest::newRow("gone in between: starts afresh")
            << ch340 << QList{0, 1000, 1500, 2500} << QList<qsizetype>{1, 0, 1, 1}
            << QList{false, false, false, true};
        QTest::newRow("another vendor's, named as a board")
            << PortlessAdapter{.location = u"3-1"_s,
                               .product = u"ESP32-S3 DevKit"_s,
                               .vendorId = 0x2341,
                               .expectedDriver = u"cdc_acm"_s}
            << QList{0, 1000} << QList<qsizetype>{1, 1} << QList{false, true};
        QTest::newRow("another vendor's, named as no board")
            << PortlessAdapter{.location = u"3-1"_s,
                               .product = u"Uno"_s,
                               .vendorId = 0x2341,
                               .expectedDriver = u"cdc_acm"_s}
            << QList{0, 1000} << QList<qsizetype>{1, 1} << QList{false, false};
    }
    void tellsOfAdaptersWithoutPorts()
    {
        QFETCH(PortlessAdapter, adapter);
        QFETCH(QList<int>, refreshesAtMs);
        QFETCH(QList<qsizetype>, seen);
        QFETCH(QList<bool>, told);
        std::chrono::milliseconds now{0};
        m_manager->setClock([&now] { return tavix::SettledAdapters::Clock::time_point(now); });
        QList<bool> tellings;
        for (qsizetype i = 0; i < refreshesAtMs.size(); ++i) {
            now = std::chrono::milliseconds(refreshesAtMs[i]);
            m_lister->adapters = QList<PortlessAdapter>(seen[i], adapter);
            m_manager->refreshPorts();
            tellings.append(m_manager->portlessAdapters() == QList{adapter});
        }
        QCOMPARE(tellings, told);
    }

    // What the user reads: the adapter, and the step that gives it its port.
    void saysWhatToDo_data()
    {
        QTest::addColumn<PortlessAdapter>("adapter");
        QTest::addColumn<QString>("says");
        const PortlessAdapter unnamed{.location = u"1-2"_s,
                                      .vendorId = 0x10c4,
                                      .productId = 0xea60,
                                      .interfaceName = u"1-2:1.0"_s,
                                      .expectedDriver = u"cp210x"_s};
        PortlessAdapter brltty = unnamed;
        brltty.boundDriver = u"usbfs"_s;
        brltty.claimedBy = u"brltty"_s;
        brltty.serviceRule = u"85-brltty.rules"_s;
        PortlessAdapter usbfs = brltty;
        usbfs.claimedBy.clear();
        PortlessAdapter other = unnamed;
        other.boundDriver = u"usbhid"_s;
        QTest::newRow("the adapter") << unnamed
                                     << u"A USB serial adapter (ID 10c4:ea60, USB 1-2) is plugged "
                                        "in but has no serial port.\n"_s;
        QTest::newRow("brltty") << brltty
                                << u"(sudo ln -s /dev/null /etc/udev/rules.d/"
                                   "85-brltty.rules), then unplug the board"_s;
        QTest::newRow("some program") << usbfs << u"through usbfs"_s;
        QTest::newRow("another driver")
            << other
            << u"(echo 1-2:1.0 | sudo tee /sys/bus/usb/drivers/usbhid/unbind "
               "/sys/bus/usb/drivers/cp210x/bind)"_s;
        QTest::newRow("no driver") << unnamed << u"(sudo modprobe cp210x)"_s;
    }
    void saysWhatToDo()
    {
        QFETCH(PortlessAdapter, adapter);
        QFETCH(QString, says);
        QVERIFY2(adapter.hint().contains(says), qPrintable(adapter.hint()));
    }

    // The system's news arrives in bursts (a hub and its adapters); one signal for each.
    void gathersDeviceEvents_data()
    {
        QTest::addColumn<int>("events");
        QTest::newRow("one") << 1;
        QTest::newRow("a burst of four") << 4;
    }
    void gathersDeviceEvents()
    {
        QFETCH(int, events);
        QSignalSpy spy(m_manager.get(), &SerialPortManager::systemDevicesChanged);
        const auto* timer = m_manager->findChild<QTimer*>(u"hotplugTimer"_s);
        QVERIFY(timer->isSingleShot());
        QCOMPARE(timer->intervalAsDuration(), std::chrono::milliseconds(100));
        for (int i = 0; i < events; ++i)
            Q_EMIT m_lister->watch->portsChanged();
        QVERIFY(spy.wait());
        QVERIFY(!timer->isActive());  // nothing more to come
        QCOMPARE(spy.count(), 1);
        QCOMPARE(m_lister->listings, 0);  // the owner decides when to refresh
    }
};

QTEST_GUILESS_MAIN(TestSerialPortManager)
#include "tst_serialportmanager.moc"
