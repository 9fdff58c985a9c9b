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

// A port as the lister reports it, and what lists it: a keyword of its names, a board's vendor
// ID, or nothing (a near miss).
struct Reported
{
    const char* tag;
    SerialPortInfo::Fields port;
    QString keyword = {};
    qint64 vendorId = 0;
    Scheme scheme = Scheme::singleNode;
};

// Every vendor ID and every keyword selects a port here, so that a typo in any of them fails;
// near misses do not.
QList<Reported> reportedPorts()
{
    const QString usb0 = u"/dev/ttyUSB0"_s;
    return {
        {"vendor Espressif", {.path = usb0, .vendorID = 0x303A}, {}, 0x303A},
        {"vendor Silicon Labs", {.path = usb0, .vendorID = 0x10C4}, {}, 0x10C4},
        {"vendor WCH", {.path = usb0, .vendorID = 0x1A86}, {}, 0x1A86},
        {"vendor FTDI", {.path = usb0, .vendorID = 0x0403}, {}, 0x0403},
        {"vendor near miss", {.path = usb0, .vendorID = 0x303B}},
        {"vendor Prolific",
         {.path = usb0,
          .vendor = u"Prolific Technology Inc."_s,
          .product = u"USB-Serial Controller"_s,
          .vendorID = 0x067B}},
        {"espressif", {.path = usb0, .vendor = u"Espressif Systems"_s}, u"espressif"_s},
        {"esp32", {.path = usb0, .product = u"My Esp32-S3 Board"_s}, u"esp32"_s},
        {"m5stack", {.path = usb0, .vendor = u"M5Stack"_s}, u"m5stack"_s},
        {"cp210", {.path = usb0, .product = u"CP2104 Bridge"_s}, u"cp210"_s},
        {"slab_usbtouart", {.path = u"/dev/SLAB_USBtoUART"_s}, u"slab_usbtouart"_s},
        {"silicon labs across the blank",
         {.path = usb0, .vendor = u"Silicon"_s, .product = u"Labs Bridge"_s},
         u"silicon labs"_s},
        {"wchusbserial", {.path = usb0, .name = u"wchusbserial1410"_s}, u"wchusbserial"_s},
        {"ch340", {.path = usb0, .product = u"CH340 serial"_s}, u"ch340"_s},
        {"ch341", {.path = u"/dev/ttyCH341USB0"_s}, u"ch341"_s},
        {"ch910", {.path = usb0, .product = u"CH9102F"_s}, u"ch910"_s},
        {"ftdi", {.path = usb0, .vendor = u"FTDI"_s}, u"ftdi"_s},
        {"esp-32", {.path = usb0, .product = u"ESP-32 clone"_s}},
        {"silicon labs across an empty field",
         {.path = usb0, .name = u"Labs0"_s, .vendor = u"Silicon"_s}},
        {"serial alone", {.path = usb0, .product = u"USB Serial"_s}},
        {"board port", {.path = u"/dev/ttyS0"_s}},
        {"outside /dev", {.path = u"/run/ttyUSB0"_s, .vendorID = 0x303A}},
        // macOS: only callout nodes.
        {"mac callout",
         {.path = u"/dev/cu.usbserial-0001"_s, .vendorID = 0x10C4},
         {},
         0x10C4,
         Scheme::calloutAndDialIn},
        {"mac dial-in",
         {.path = u"/dev/tty.usbserial-0001"_s, .vendorID = 0x10C4},
         {},
         0,
         Scheme::calloutAndDialIn},
    };
}

// An entry of /dev, listed by name when the lister cannot list, and the keyword that takes it.
struct Named
{
    const char* tag;
    Scheme scheme;
    QString entry;
    QString keyword;   // empty: not taken
    QString listedAs;  // the port's name
};

QList<Named> devEntries()
{
    const Scheme linux = Scheme::singleNode;
    const Scheme mac = Scheme::calloutAndDialIn;
    QList<Named> entries{
        // "wchusbserial" holds "usbserial", so that row cannot tell the two apart.
        {"usbserial", linux, u"tty.usbserial-0001"_s, u"usbserial"_s, u"tty.usbserial-0001"_s},
        {"slab_usbtouart", linux, u"tty.SLAB_USBtoUART"_s, u"slab_usbtouart"_s,
         u"tty.SLAB_USBtoUART"_s},
        {"wchusbserial", linux, u"tty.wchusbserial1410"_s, u"wchusbserial"_s,
         u"tty.wchusbserial1410"_s},
        {"usbmodem", linux, u"tty.usbmodem1101"_s, u"usbmodem"_s, u"tty.usbmodem1101"_s},
        {"cp210", linux, u"ttyCP2102"_s, u"cp210"_s, u"ttyCP2102"_s},
        {"ch340", linux, u"ttyCH340"_s, u"ch340"_s, u"ttyCH340"_s},
        {"ch341", linux, u"ttyCH341USB0"_s, u"ch341"_s, u"ttyCH341USB0"_s},
        {"ch910", linux, u"ttyCH9102"_s, u"ch910"_s, u"ttyCH9102"_s},
        {"ttyusb", linux, u"ttyUSB0"_s, u"ttyusb"_s, u"ttyUSB0"_s},
        {"ttyacm", linux, u"ttyACM12"_s, u"ttyacm"_s, u"ttyACM12"_s},
        {"board port", linux, u"ttyS0"_s, {}, {}},
        {"console", linux, u"tty0"_s, {}, {}},
        {"prefix is case-sensitive", linux, u"TTYUSB0"_s, {}, {}},
        {"keyword without prefix", linux, u"usbserial-0001"_s, {}, {}},
        // macOS: callout nodes, named without their "cu.".
        {"mac dial-in", mac, u"tty.usbmodem1101"_s, {}, {}},
        {"mac without keyword", mac, u"cu.Bluetooth-Incoming-Port"_s, {}, {}},
        {"mac has no linux names", mac, u"cu.ttyUSB0"_s, {}, {}},
        {"mac has no linux names either", mac, u"cu.ttyACM0"_s, {}, {}},
    };
    for (const QString& keyword : {u"usbserial"_s, u"slab_usbtouart"_s, u"wchusbserial"_s,
                                   u"usbmodem"_s, u"cp210"_s, u"ch340"_s, u"ch341"_s, u"ch910"_s}) {
        const QString name = u"X-"_s + keyword.toUpper() + u"-1"_s;
        entries.append({"mac", mac, u"cu."_s + name, keyword, name});
    }
    return entries;
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

    void listsWhatLooksLikeABoard_data()
    {
        QTest::addColumn<Scheme>("scheme");
        QTest::addColumn<SerialPortInfo>("port");
        QTest::addColumn<QStringList>("listed");  // the port's path, or nothing
        for (const Reported& row : reportedPorts()) {
            const bool listed = !row.keyword.isEmpty() || row.vendorId != 0;
            QTest::newRow(row.tag) << row.scheme << SerialPortInfo(row.port)
                                   << (listed ? QStringList{row.port.path} : QStringList());
        }
    }
    void listsWhatLooksLikeABoard()
    {
        QFETCH(Scheme, scheme);
        QFETCH(SerialPortInfo, port);
        QFETCH(QStringList, listed);
        makeManager(scheme);
        m_lister->ports = {port};
        QCOMPARE(pathsOf(m_manager->scanPorts()), listed);
    }

    void listsDevEntriesByName_data()
    {
        QTest::addColumn<Scheme>("scheme");
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QStringList>("listedAs");  // the port's name, or nothing
        for (const Named& row : devEntries()) {
            QTest::addRow("%s %s", row.tag, qPrintable(row.entry))
                << row.scheme << row.entry
                << (row.listedAs.isEmpty() ? QStringList() : QStringList{row.listedAs});
        }
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

    // A keyword or vendor ID added to a list without a row above that shows what it takes would
    // list ports nobody asked for; one dropped fails its row.
    void listsExactlyWhatItsRowsShow()
    {
        QSet<QString> keywords;
        QSet<qint64> vendors;
        for (const Reported& row : reportedPorts()) {
            if (!row.keyword.isEmpty())
                keywords.insert(row.keyword);
            if (row.vendorId != 0)
                vendors.insert(row.vendorId);
        }
        const QStringList& portKeywords = m_manager->portKeywords();
        QCOMPARE(QSet<QString>(portKeywords.cbegin(), portKeywords.cend()), keywords);
        QCOMPARE(portKeywords.size(), keywords.size());
        QCOMPARE(m_manager->supportedVendorIDs(), vendors);

        for (const Scheme scheme : {Scheme::singleNode, Scheme::calloutAndDialIn}) {
            QSet<QString> named;
            for (const Named& row : devEntries()) {
                if (row.scheme == scheme && !row.keyword.isEmpty())
                    named.insert(row.keyword);
            }
            const QStringList devKeywords = tavix::PortNaming(scheme).devEntryKeywords();
            QCOMPARE(QSet<QString>(devKeywords.cbegin(), devKeywords.cend()), named);
            QCOMPARE(devKeywords.size(), named.size());
        }
    }

    // Only when the lister cannot list; an empty listing is an answer.
    void listsDevByNameAsAFallback()
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
    void tellsOfAdaptersWithoutAPort_data()
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
    void tellsOfAdaptersWithoutAPort()
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
