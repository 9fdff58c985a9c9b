#include "serial/SerialPortDiscovery.h"
#include "support/FakeRegistry.h"

#include <QTest>

#include <limits>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

using EntryId = FakeRegistry::EntryId;

// How a property value is given to the fake registry in data-driven rows.
enum class ValueKind
{
    absent,
    text,
    number,
    data,
};

}  // namespace

Q_DECLARE_METATYPE(ValueKind)

class TestSerialPortDiscovery : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<FakeRegistry> m_registry;

    FakeRegistry& registry() { return *m_registry; }
    SerialPortDiscovery discovery() { return SerialPortDiscovery(*m_registry); }

    // A serial device with a callout path below parent.
    EntryId addSerialDevice(std::optional<EntryId> parent, const QString& path)
    {
        const EntryId device = registry().addEntry(parent);
        registry().setProperty(device, u"IOCalloutDevice"_s, path);
        registry().setProperty(device, u"IOTTYDevice"_s, path.section(u'/', -1));
        registry().addSerialDevice(device);
        return device;
    }

    USBInfo walkFrom(EntryId device)
    {
        const RegistryHandle handle = registry().open(device);
        USBInfo info = discovery().readUSBInfo(handle);
        registry().release(handle);
        return info;
    }

private Q_SLOTS:
    void init() { m_registry = std::make_unique<FakeRegistry>(); }

    // Every path of every test gives back each handle exactly once and uses none after.
    void cleanup()
    {
        QCOMPARE(registry().openHandles(), 0);
        QCOMPARE(registry().doubleReleases(), 0);
        QCOMPARE(registry().unknownReleases(), 0);
        QCOMPARE(registry().badUses(), 0);
        QCOMPARE(registry().handlesReleased(), registry().handlesHandedOut());
    }

    void fakeRegistryTellsMisuseApart()
    {
        const EntryId entry = registry().addEntry();
        const RegistryHandle handle = registry().open(entry);
        registry().release(handle);
        registry().release(handle);
        registry().release(0x7777);
        QVERIFY(!registry().property(handle, u"IOCalloutDevice").has_value());
        QCOMPARE(registry().doubleReleases(), 1);
        QCOMPARE(registry().unknownReleases(), 1);
        QCOMPARE(registry().badUses(), 1);
        // Reset, so that cleanup() judges only the code under test.
        m_registry = std::make_unique<FakeRegistry>();
    }

    void readIntegerProperty_data()
    {
        QTest::addColumn<ValueKind>("kind");
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("number");
        QTest::addColumn<bool>("found");
        QTest::addColumn<qint64>("expected");

        constexpr qint64 maximum = std::numeric_limits<qint64>::max();
        constexpr qint64 minimum = std::numeric_limits<qint64>::min();
        const auto text = [](const char* name, const QString& value, bool found, qint64 expected) {
            QTest::newRow(name) << ValueKind::text << value << qint64(0) << found << expected;
        };
        text("0x upper digits", u"0x303A"_s, true, 12346);
        text("0X mixed digits", u"0X303a"_s, true, 12346);
        text("decimal", u"4292"_s, true, 4292);
        text("hex digits without prefix", u"10C4"_s, false, 0);
        text("prefix alone", u"0x"_s, false, 0);
        text("blank before prefix", u" 0x10C4"_s, false, 0);
        text("blank after hex", u"0x303A \n"_s, true, 12346);
        text("surrounding white space", u"\t4292\n"_s, true, 4292);
        text("prefix removed anywhere", u"0x0x10"_s, true, 16);
        text("upper prefix removed after lower", u"0x0X1F"_s, true, 31);
        text("plus sign", u"+42"_s, true, 42);
        text("minus sign", u"-42"_s, true, -42);
        text("sign after prefix", u"0x-1A"_s, true, -26);
        text("sign alone", u"-"_s, false, 0);
        text("two signs", u"+-1"_s, false, 0);
        text("inner blank", u"42 1"_s, false, 0);
        text("letters in decimal", u"12ab"_s, false, 0);
        text("non-hex letter", u"0x30G1"_s, false, 0);
        text("non-ASCII digits", u"\u0664\u0662"_s, false, 0);
        text("empty", QString(), false, 0);
        text("largest decimal", u"9223372036854775807"_s, true, maximum);
        text("beyond largest decimal", u"9223372036854775808"_s, false, 0);
        text("smallest decimal", u"-9223372036854775808"_s, true, minimum);
        text("beyond smallest decimal", u"-9223372036854775809"_s, false, 0);
        text("largest hex", u"0x7FFFFFFFFFFFFFFF"_s, true, maximum);
        text("beyond largest hex", u"0x8000000000000000"_s, false, 0);
        text("far beyond range", u"123456789012345678901234567890"_s, false, 0);

        QTest::newRow("number") << ValueKind::number << QString() << qint64(6790) << true
                                << qint64(6790);
        QTest::newRow("negative number")
            << ValueKind::number << QString() << qint64(-1) << true << qint64(-1);
        QTest::newRow("data value")
            << ValueKind::data << QString() << qint64(0) << false << qint64(0);
        QTest::newRow("absent") << ValueKind::absent << QString() << qint64(0) << false
                                << qint64(0);
    }

    void readIntegerProperty()
    {
        QFETCH(ValueKind, kind);
        QFETCH(QString, text);
        QFETCH(qint64, number);
        QFETCH(bool, found);
        QFETCH(qint64, expected);

        const EntryId entry = registry().addEntry();
        if (kind == ValueKind::text)
            registry().setProperty(entry, u"idVendor"_s, text);
        else if (kind == ValueKind::number)
            registry().setProperty(entry, u"idVendor"_s, number);
        else if (kind == ValueKind::data)
            registry().setProperty(entry, u"idVendor"_s, "\x30\x3a"_ba);

        const RegistryHandle handle = registry().open(entry);
        const std::optional<qint64> value = discovery().readIntegerProperty(handle, u"idVendor");
        registry().release(handle);

        QCOMPARE(value.has_value(), found);
        if (found)
            QCOMPARE(*value, expected);
    }

    void readStringProperty_data()
    {
        QTest::addColumn<ValueKind>("kind");
        QTest::addColumn<bool>("found");
        QTest::addColumn<QString>("expected");

        QTest::newRow("text") << ValueKind::text << true << u"CP2102 USB to UART"_s;
        QTest::newRow("number") << ValueKind::number << false << QString();
        QTest::newRow("data") << ValueKind::data << false << QString();
        QTest::newRow("absent") << ValueKind::absent << false << QString();
    }

    void readStringProperty()
    {
        QFETCH(ValueKind, kind);
        QFETCH(bool, found);
        QFETCH(QString, expected);

        const EntryId entry = registry().addEntry();
        if (kind == ValueKind::text)
            registry().setProperty(entry, u"USB Product Name"_s, u"CP2102 USB to UART"_s);
        else if (kind == ValueKind::number)
            registry().setProperty(entry, u"USB Product Name"_s, qint64(42));
        else if (kind == ValueKind::data)
            registry().setProperty(entry, u"USB Product Name"_s, "CP2102"_ba);

        const RegistryHandle handle = registry().open(entry);
        const std::optional<QString> value =
            discovery().readStringProperty(handle, u"USB Product Name");
        registry().release(handle);

        QCOMPARE(value.has_value(), found);
        QCOMPARE(value.value_or(QString()), expected);
    }

    void walkStopsAtCompleteParent()
    {
        const EntryId grandparent = registry().addEntry();
        registry().setProperty(grandparent, u"USB Vendor Name"_s, u"Far Vendor"_s);
        registry().setProperty(grandparent, u"idProduct"_s, qint64(0x7523));
        const EntryId parent = registry().addEntry(grandparent);
        registry().setProperty(parent, u"USB Vendor Name"_s, u"Silicon Labs"_s);
        registry().setProperty(parent, u"USB Product Name"_s, u"CP2102 USB to UART Bridge"_s);
        registry().setProperty(parent, u"idVendor"_s, qint64(0x10C4));
        registry().setProperty(parent, u"idProduct"_s, qint64(0xEA60));
        const EntryId device = addSerialDevice(parent, u"/dev/ttyUSB0"_s);

        const USBInfo info = walkFrom(device);

        QCOMPARE(info.vendor, u"Silicon Labs"_s);
        QCOMPARE(info.product, u"CP2102 USB to UART Bridge"_s);
        QCOMPARE(info.vendorID, std::optional<qint64>(0x10C4));
        QCOMPARE(info.productID, std::optional<qint64>(0xEA60));
        QVERIFY(registry().keysRead(grandparent).isEmpty());
    }

    void walkContinuesPastNamesWithoutVendorID()
    {
        const EntryId grandparent = registry().addEntry();
        registry().setProperty(grandparent, u"USB Vendor Name"_s, u"Other Vendor"_s);
        registry().setProperty(grandparent, u"USB Product Name"_s, u"Other Product"_s);
        registry().setProperty(grandparent, u"USB Vendor ID"_s, u"0x303A"_s);
        const EntryId parent = registry().addEntry(grandparent);
        registry().setProperty(parent, u"USB Vendor Name"_s, u"Espressif"_s);
        registry().setProperty(parent, u"USB Product Name"_s, u"USB JTAG/serial debug unit"_s);
        const EntryId device = addSerialDevice(parent, u"/dev/ttyACM0"_s);

        const USBInfo info = walkFrom(device);

        QCOMPARE(info.vendor, u"Espressif"_s);
        QCOMPARE(info.product, u"USB JTAG/serial debug unit"_s);
        QCOMPARE(info.vendorID, std::optional<qint64>(12346));
    }

    void emptyVendorNameAsksNextAncestor()
    {
        const EntryId grandparent = registry().addEntry();
        registry().setProperty(grandparent, u"USB Vendor Name"_s, u"QinHeng Electronics"_s);
        const EntryId parent = registry().addEntry(grandparent);
        // The empty name decides for this entry: its database name is not consulted.
        registry().setProperty(parent, u"USB Vendor Name"_s, QString());
        registry().setProperty(parent, u"kUSBVendorString"_s, u"Not Taken"_s);
        registry().setProperty(parent, u"USB Product Name"_s, u"USB Serial"_s);
        registry().setProperty(parent, u"idVendor"_s, qint64(0x1A86));
        const EntryId device = addSerialDevice(parent, u"/dev/ttyUSB0"_s);

        const USBInfo info = walkFrom(device);

        QCOMPARE(info.vendor, u"QinHeng Electronics"_s);
        QCOMPARE(info.product, u"USB Serial"_s);
        QCOMPARE(info.vendorID, std::optional<qint64>(0x1A86));
        QVERIFY(!registry().keysRead(parent).contains(u"kUSBVendorString"_s));
    }

    void productIDLeftAbsentWhenStopTestPasses()
    {
        const EntryId grandparent = registry().addEntry();
        registry().setProperty(grandparent, u"idProduct"_s, qint64(0x6001));
        const EntryId parent = registry().addEntry(grandparent);
        registry().setProperty(parent, u"USB Vendor Name"_s, u"FTDI"_s);
        registry().setProperty(parent, u"USB Product Name"_s, u"FT232R USB UART"_s);
        registry().setProperty(parent, u"idVendor"_s, qint64(0x0403));
        const EntryId device = addSerialDevice(parent, u"/dev/ttyUSB0"_s);

        const USBInfo info = walkFrom(device);

        QCOMPARE(info.vendorID, std::optional<qint64>(0x0403));
        QVERIFY(!info.productID.has_value());
        QVERIFY(registry().keysRead(grandparent).isEmpty());
    }

    void nearerFieldsAreNeverReplaced()
    {
        const EntryId usbDevice = registry().addEntry();
        registry().setProperty(usbDevice, u"USB Vendor Name"_s, u"Silicon Labs"_s);
        registry().setProperty(usbDevice, u"USB Product Name"_s, u"CP2104"_s);
        registry().setProperty(usbDevice, u"idVendor"_s, qint64(0x10C4));
        registry().setProperty(usbDevice, u"idProduct"_s, qint64(0xEA60));
        const EntryId usbInterface = registry().addEntry(usbDevice);
        registry().setProperty(usbInterface, u"Product Name"_s, u"Interface Name"_s);
        registry().setProperty(usbInterface, u"USB Product ID"_s, u"0x1001"_s);
        const EntryId device = addSerialDevice(usbInterface, u"/dev/ttyUSB0"_s);

        const USBInfo info = walkFrom(device);

        QCOMPARE(info.vendor, u"Silicon Labs"_s);
        QCOMPARE(info.product, u"Interface Name"_s);
        QCOMPARE(info.vendorID, std::optional<qint64>(0x10C4));
        QCOMPARE(info.productID, std::optional<qint64>(0x1001));
    }

    void keysAreTriedInOrder_data()
    {
        QTest::addColumn<QStringList>("keys");
        QTest::addColumn<QString>("expectedVendor");
        QTest::addColumn<QString>("expectedProduct");

        // Each key named holds a text equal to the key, so the winner names itself.
        QTest::newRow("all keys") << QStringList{u"USB Vendor Name"_s, u"kUSBVendorString"_s,
                                                 u"USB Product Name"_s, u"kUSBProductString"_s,
                                                 u"Product Name"_s}
                                  << u"USB Vendor Name"_s << u"USB Product Name"_s;
        QTest::newRow("database names")
            << QStringList{u"kUSBVendorString"_s, u"kUSBProductString"_s, u"Product Name"_s}
            << u"kUSBVendorString"_s << u"kUSBProductString"_s;
        QTest::newRow("interface name only")
            << QStringList{u"Product Name"_s} << QString() << u"Product Name"_s;
        QTest::newRow("none") << QStringList() << QString() << QString();
    }

    void keysAreTriedInOrder()
    {
        QFETCH(QStringList, keys);
        QFETCH(QString, expectedVendor);
        QFETCH(QString, expectedProduct);

        const EntryId parent = registry().addEntry();
        for (const QString& key : std::as_const(keys))
            registry().setProperty(parent, key, key);
        const EntryId device = addSerialDevice(parent, u"/dev/ttyUSB0"_s);

        const USBInfo info = walkFrom(device);

        QCOMPARE(info.vendor, expectedVendor);
        QCOMPARE(info.product, expectedProduct);
    }

    void nameOfWrongKindFallsToNextKey()
    {
        const EntryId parent = registry().addEntry();
        registry().setProperty(parent, u"USB Vendor Name"_s, qint64(4292));
        registry().setProperty(parent, u"kUSBVendorString"_s, u"Silicon Laboratories, Inc."_s);
        registry().setProperty(parent, u"idVendor"_s, "\x10\xc4"_ba);
        registry().setProperty(parent, u"USB Vendor ID"_s, qint64(0x10C4));
        const EntryId device = addSerialDevice(parent, u"/dev/ttyUSB0"_s);

        const USBInfo info = walkFrom(device);

        QCOMPARE(info.vendor, u"Silicon Laboratories, Inc."_s);
        QCOMPARE(info.vendorID, std::optional<qint64>(0x10C4));
    }

    void walkReachesTheRootWithoutIdentity()
    {
        std::optional<EntryId> parent;
        QList<EntryId> chain;
        for (int level = 0; level < 6; ++level) {
            parent = registry().addEntry(parent);
            registry().setProperty(*parent, u"IOClass"_s, u"Something"_s);
            chain.append(*parent);
        }
        const EntryId device = addSerialDevice(parent, u"/dev/ttyS0"_s);

        const USBInfo info = walkFrom(device);

        QVERIFY(info.vendor.isEmpty());
        QVERIFY(info.product.isEmpty());
        QVERIFY(!info.vendorID.has_value());
        QVERIFY(!info.productID.has_value());
        for (const EntryId entry : std::as_const(chain))
            QVERIFY(!registry().keysRead(entry).isEmpty());
    }

    void serialDeviceOwnPropertiesAreNotUsedForIdentity()
    {
        const EntryId device = addSerialDevice(std::nullopt, u"/dev/ttyUSB0"_s);
        registry().setProperty(device, u"USB Vendor Name"_s, u"Espressif"_s);
        registry().setProperty(device, u"idVendor"_s, qint64(0x303A));

        const USBInfo info = walkFrom(device);

        QVERIFY(info.vendor.isEmpty());
        QVERIFY(!info.vendorID.has_value());
        QVERIFY(registry().keysRead(device).isEmpty());
    }

    void enumerationOfEmptyRegistryIsAnEmptyList()
    {
        const PortEnumeration enumeration = discovery().enumerateSerialPorts();
        QCOMPARE(enumeration.outcome, PortEnumeration::Outcome::listed);
        QVERIFY(enumeration.ports.isEmpty());
    }

    void enumerationReportsUnavailableRegistry()
    {
        addSerialDevice(std::nullopt, u"/dev/ttyUSB0"_s);
        registry().setUnavailable(true);

        const PortEnumeration enumeration = discovery().enumerateSerialPorts();

        QCOMPARE(enumeration.outcome, PortEnumeration::Outcome::registryUnavailable);
        QVERIFY(enumeration.ports.isEmpty());
    }

    void enumerationKeepsRegistryOrderAndBuildsRecords()
    {
        const EntryId usbDevice = registry().addEntry();
        registry().setProperty(usbDevice, u"USB Vendor Name"_s, u"Espressif"_s);
        registry().setProperty(usbDevice, u"USB Product Name"_s, u"ESP32-S3"_s);
        registry().setProperty(usbDevice, u"idVendor"_s, qint64(0x303A));
        registry().setProperty(usbDevice, u"idProduct"_s, qint64(0x1001));
        addSerialDevice(usbDevice, u"/dev/ttyUSB10"_s);
        addSerialDevice(std::nullopt, u"/dev/ttyS0"_s);
        addSerialDevice(std::nullopt, u"/dev/ttyUSB2"_s);

        const PortEnumeration enumeration = discovery().enumerateSerialPorts();

        QCOMPARE(enumeration.outcome, PortEnumeration::Outcome::listed);
        QCOMPARE(enumeration.ports.size(), 3);
        const SerialPortInfo& first = enumeration.ports.at(0);
        QCOMPARE(first.id(), u"/dev/ttyUSB10"_s);
        QCOMPARE(first.path(), u"/dev/ttyUSB10"_s);
        QCOMPARE(first.name(), u"ttyUSB10"_s);
        QCOMPARE(first.vendor(), u"Espressif"_s);
        QCOMPARE(first.product(), u"ESP32-S3"_s);
        QCOMPARE(first.vendorID(), std::optional<qint64>(0x303A));
        QCOMPARE(first.productID(), std::optional<qint64>(0x1001));
        QCOMPARE(enumeration.ports.at(1).path(), u"/dev/ttyS0"_s);
        QVERIFY(enumeration.ports.at(1).vendor().isEmpty());
        QVERIFY(!enumeration.ports.at(1).vendorID().has_value());
        QCOMPARE(enumeration.ports.at(2).path(), u"/dev/ttyUSB2"_s);
    }

    void deviceWithoutCalloutPathIsSkipped_data()
    {
        QTest::addColumn<ValueKind>("kind");
        QTest::newRow("absent") << ValueKind::absent;
        QTest::newRow("number") << ValueKind::number;
        QTest::newRow("data") << ValueKind::data;
    }

    void deviceWithoutCalloutPathIsSkipped()
    {
        QFETCH(ValueKind, kind);

        const EntryId parent = registry().addEntry();
        registry().setProperty(parent, u"idVendor"_s, qint64(0x303A));
        const EntryId device = registry().addEntry(parent);
        registry().setProperty(device, u"IOTTYDevice"_s, u"ttyUSB0"_s);
        if (kind == ValueKind::number)
            registry().setProperty(device, u"IOCalloutDevice"_s, qint64(1));
        else if (kind == ValueKind::data)
            registry().setProperty(device, u"IOCalloutDevice"_s, "/dev/ttyUSB0"_ba);
        registry().addSerialDevice(device);
        addSerialDevice(std::nullopt, u"/dev/ttyUSB1"_s);

        const PortEnumeration enumeration = discovery().enumerateSerialPorts();

        QCOMPARE(enumeration.ports.size(), 1);
        QCOMPARE(enumeration.ports.at(0).path(), u"/dev/ttyUSB1"_s);
        QCOMPARE(registry().keysRead(device), QStringList{u"IOCalloutDevice"_s});
        QVERIFY(registry().keysRead(parent).isEmpty());
    }

    void deviceWithoutTerminalNameIsUnknown()
    {
        const EntryId device = registry().addEntry();
        registry().setProperty(device, u"IOCalloutDevice"_s, u"/dev/ttyUSB0"_s);
        registry().addSerialDevice(device);

        const PortEnumeration enumeration = discovery().enumerateSerialPorts();

        QCOMPARE(enumeration.ports.size(), 1);
        QCOMPARE(enumeration.ports.at(0).name(), u"Unknown"_s);
    }

    void readPortInfoLeavesTheServiceHandleToItsCaller()
    {
        const EntryId parent = registry().addEntry();
        registry().setProperty(parent, u"idVendor"_s, qint64(0x303A));
        const EntryId device = addSerialDevice(parent, u"/dev/ttyACM0"_s);
        const RegistryHandle handle = registry().open(device);

        const std::optional<SerialPortInfo> info = discovery().readPortInfo(handle);

        QVERIFY(info.has_value());
        QCOMPARE(info->vendorID(), std::optional<qint64>(0x303A));
        // Still open: the release below must be the only one (cleanup() counts).
        QCOMPARE(registry().openHandles(), 1);
        registry().release(handle);
    }
};

QTEST_GUILESS_MAIN(TestSerialPortDiscovery)
#include "tst_serialportdiscovery.moc"
